"""A private X display (Xvfb) for the desktop drivers, with screenshots and
input through xdotool. With no window manager, keys go to the window under
the pointer."""
import os
import subprocess
import tempfile
import time
import urllib.parse

from behaviour import HEIGHT, WIDTH, Picture, end_process, wait_until


class Display:
    # Room for the window at 3x (1008 x 1206, its bar or frame above).
    def __init__(self, size="1280x1400"):
        self.log = tempfile.NamedTemporaryFile(prefix="talvo-xvfb-", suffix=".log", delete=False)
        # -displayfd: Xvfb picks a free display and tells us which. -noreset:
        # a program that starts just as the previous one's connection closes
        # would otherwise meet a server in the middle of its reset.
        read, write = os.pipe()
        self.server = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-screen", "0", size + "x24", "-nolisten", "tcp",
                                        "-noreset"],
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
        return subprocess.run(args, env=self.env, check=check, capture_output=True, text=True, timeout=120).stdout

    def xdotool(self, *args, check=True):
        return self.run("xdotool", *[str(a) for a in args], check=check)

    def use_layout(self, layout):
        """The keyboard layout(s) of setxkbmap, the first group in force."""
        self.run("setxkbmap", "-layout", layout)

    def press_keycodes(self, *keycodes):
        """Presses the keys in order and lets them go in reverse, by their X
        keycodes, as the keyboard does whatever the layout."""
        from Xlib import X, display
        from Xlib.ext import xtest
        d = display.Display(self.name)
        try:
            for kind, code in [(X.KeyPress, c) for c in keycodes] + [(X.KeyRelease, c) for c in reversed(keycodes)]:
                xtest.fake_input(d, kind, code)
                d.sync()
        finally:
            d.close()

    def grab(self, x, y, w, h):
        """Raw RGB bytes of a screen rectangle."""
        out = subprocess.run(["import", "-window", "root", "-crop", "%dx%d+%d+%d" % (w, h, x, y), "-depth", "8", "rgb:-"],
                             env=self.env, check=True, capture_output=True, timeout=120).stdout
        return out

    def picture(self, x, y, scale=1):
        """The 336 x 402 cells of the client area whose top-left corner is
        at (x, y), shown at `scale` pixels a cell."""
        return Picture.of_blocks(self.grab(x, y, WIDTH * scale, HEIGHT * scale), scale)

    def save_png(self, path):
        subprocess.run(["import", "-window", "root", path], env=self.env, check=False, capture_output=True)

    def windows(self, name):
        """Ids of the visible windows whose title is `name`."""
        out = self.xdotool("search", "--onlyvisible", "--name", "^%s$" % name, check=False)
        return [int(w) for w in out.split()]

    def wait_window(self, name, timeout=30.0):
        return wait_until("a window named " + name, lambda: self.windows(name), timeout)[0]

    def drop(self, window, x, y, path, timeout=10.0):
        """Drops the file on the X window `window` at screen point (x, y) as a
        file manager does: an XDND source offering text/uri-list. Returns
        whether the target took it."""
        from Xlib import X, display
        from Xlib.protocol import event
        d = display.Display(self.name)
        try:
            atom = d.intern_atom
            uri_list = atom("text/uri-list")
            target = d.create_resource_object("window", window)
            aware = target.get_full_property(atom("XdndAware"), X.AnyPropertyType)
            if not aware:
                raise AssertionError("window %#x takes no drops" % window)
            version = min(5, aware.value[0])
            source = d.screen().root.create_window(0, 0, 1, 1, 0, X.CopyFromParent)
            source.set_selection_owner(atom("XdndSelection"), X.CurrentTime)

            def send(kind, *data):
                target.send_event(event.ClientMessage(window=target, client_type=atom(kind),
                                                      data=(32, [source.id] + list(data) + [0] * (4 - len(data)))))
                d.flush()

            def wait_for(kind):
                end = time.monotonic() + timeout
                while time.monotonic() < end:
                    if not d.pending_events():
                        time.sleep(0.01)
                        continue
                    ev = d.next_event()
                    if ev.type == X.SelectionRequest:
                        prop = ev.property or ev.target
                        if ev.target == uri_list:
                            data = ("file://" + urllib.parse.quote(os.path.abspath(path)) + "\r\n").encode()
                            ev.requestor.change_property(prop, uri_list, 8, data)
                        else:
                            prop = X.NONE
                        ev.requestor.send_event(event.SelectionNotify(time=ev.time, requestor=ev.requestor.id,
                                                                      selection=ev.selection, target=ev.target,
                                                                      property=prop))
                        d.flush()
                    elif ev.type == X.ClientMessage and ev.client_type == atom(kind):
                        return ev.data[1]
                raise AssertionError("no %s from window %#x" % (kind, window))

            send("XdndEnter", version << 24, uri_list)
            send("XdndPosition", 0, (x << 16) | y, X.CurrentTime, atom("XdndActionCopy"))
            if not wait_for("XdndStatus")[1] & 1:
                send("XdndLeave")
                return False
            send("XdndDrop", 0, X.CurrentTime)
            return bool(wait_for("XdndFinished")[1] & 1) if version >= 5 else True
        finally:
            d.sync()
            d.close()

    def geometry(self, window):
        """X, Y, WIDTH and HEIGHT of `window` on the screen, or None once it
        has gone: a window listed a moment ago may have closed since."""
        out = self.xdotool("getwindowgeometry", "--shell", window, check=False)
        at = {k: int(v) for k, v in (line.split("=", 1) for line in out.split()) if k != "SCREEN"}
        return at if "WIDTH" in at else None

    def placed(self, window):
        """The geometry of a window the flow needs to act on."""
        at = self.geometry(window)
        assert at is not None, "window %s closed before it could be used" % window
        return at

    def key_on(self, window, key):
        """`key` with the pointer on the middle of `window` (a box of Wine's
        takes the keys where the pointer is; a GTK box's default button
        takes Enter)."""
        at = self.placed(window)
        self.xdotool("mousemove", at["X"] + at["WIDTH"] // 2, at["Y"] + at["HEIGHT"] // 2)
        self.xdotool("key", key)

    def answer_save_dialog(self, title, name, timeout):
        """Types `name` into the save dialog titled `title`, whose name field
        has the focus, and accepts it."""
        at = self.placed(self.wait_window(title, timeout))
        self.xdotool("mousemove", at["X"] + at["WIDTH"] // 2, at["Y"] + 10)
        self.xdotool("key", "ctrl+a")
        self.xdotool("type", "--delay", "20", name)
        self.xdotool("key", "Return")

    def ask_to_close(self, window):
        """Asks `window` to close as a window manager's close button does
        (WM_DELETE_WINDOW)."""
        from Xlib import X, display
        from Xlib.protocol import event
        d = display.Display(self.name)
        try:
            target = d.create_resource_object("window", window)
            target.send_event(event.ClientMessage(window=target, client_type=d.intern_atom("WM_PROTOCOLS"),
                                                  data=(32, [d.intern_atom("WM_DELETE_WINDOW"), X.CurrentTime,
                                                             0, 0, 0])))
            # A round trip: the server drops what a client that has gone
            # sent but it had not yet read, and under load this close was
            # lost that way about two times in three.
            d.sync()
        finally:
            d.close()

    def cover(self, x, y, w, h, timeout=10.0):
        """Puts a window of our own over the screen rectangle and takes it
        away again, as another program's window comes and goes: what lay
        under it must be painted anew."""
        from Xlib import X, display
        d = display.Display(self.name)
        try:
            screen = d.screen()
            lid = screen.root.create_window(x, y, w, h, 0, screen.root_depth, X.InputOutput, X.CopyFromParent,
                                            override_redirect=1, background_pixel=screen.white_pixel,
                                            event_mask=X.StructureNotifyMask)
            lid.map()
            d.flush()
            end = time.monotonic() + timeout
            while True:
                if d.pending_events():
                    if d.next_event().type == X.MapNotify:
                        break
                elif time.monotonic() > end:
                    raise AssertionError("the covering window did not show")
                else:
                    time.sleep(0.01)
            lid.destroy()
            d.sync()
        finally:
            d.close()

    def close(self):
        end_process(self.server, 5)
        self.log.close()
        os.unlink(self.log.name)
