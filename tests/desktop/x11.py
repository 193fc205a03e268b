"""A private X display (Xvfb) for the desktop drivers, with screenshots and
input through xdotool. With no window manager, keys go to the window under
the pointer."""
import os
import subprocess
import tempfile
import time

from behaviour import HEIGHT, WIDTH, Picture, wait_until


class Display:
    def __init__(self, size="1024x768"):
        self.log = tempfile.NamedTemporaryFile(prefix="talvo-xvfb-", suffix=".log", delete=False)
        # -displayfd: Xvfb picks a free display and tells us which.
        read, write = os.pipe()
        self.server = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-screen", "0", size + "x24", "-nolisten", "tcp"],
                                       pass_fds=(write,), stdout=self.log, stderr=self.log)
        os.close(write)
        with os.fdopen(read) as r:
            number = r.readline().strip()
        if not number:
            raise RuntimeError("Xvfb did not start; see " + self.log.name)
        self.name = ":" + number
        self.env = dict(os.environ, DISPLAY=self.name)
        self.width, self.height = (int(v) for v in size.split("x"))

    def run(self, *args, check=True):
        return subprocess.run(args, env=self.env, check=check, capture_output=True, text=True).stdout

    def xdotool(self, *args, check=True):
        return self.run("xdotool", *[str(a) for a in args], check=check)

    def grab(self, x, y, w, h):
        """Raw RGB bytes of a screen rectangle."""
        out = subprocess.run(["import", "-window", "root", "-crop", "%dx%d+%d+%d" % (w, h, x, y), "-depth", "8", "rgb:-"],
                             env=self.env, check=True, capture_output=True).stdout
        return out

    def picture(self, x, y):
        """The 336 x 402 client area whose top-left corner is at (x, y)."""
        return Picture(self.grab(x, y, WIDTH, HEIGHT))

    def save_png(self, path):
        subprocess.run(["import", "-window", "root", path], env=self.env, check=False, capture_output=True)

    def windows(self, name):
        """Ids of the visible windows whose title is `name`."""
        out = self.xdotool("search", "--onlyvisible", "--name", "^%s$" % name, check=False)
        return [int(w) for w in out.split()]

    def wait_window(self, name, timeout=30.0):
        return wait_until("a window named " + name, lambda: self.windows(name), timeout)[0]

    def close(self):
        self.server.terminate()
        try:
            self.server.wait(5)
        except subprocess.TimeoutExpired:
            self.server.kill()
            self.server.wait()
