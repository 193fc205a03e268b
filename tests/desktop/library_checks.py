"""What the library offers beyond the program's needs, on the platforms
whose windows live on an X display (GTK, Wine): talvo-library-check runs
its checks (clipboard, text, return values) and prints a line each; here
the window is looked at, and MousePoll must follow the pointer the X server
moves with no click, and a button pressed in the window and held outside."""
import os

from behaviour import wait_until

RED = (255, 0, 0)


def test_library_operations_on_the_real_platform(d, folder):
    out = os.path.join(folder, "out.txt")
    with open(out, "w") as log:
        d.library_check(folder, log)

    def text():
        with open(out, errors="replace") as f:
            return f.read()
    wait_until("the checks", lambda: "checks done" in text() or d.process.poll() is not None, 240, every=0.5)
    assert "checks done" in text() and "FAIL" not in text(), text()
    # The mirrored text reached the window.
    assert d.shot().count({RED}, (10, 20, 200, 60)) > 20, "no text in the window"

    def polled(x, y, buttons):
        def seen():
            try:
                with open(os.path.join(folder, "poll.txt")) as f:
                    last = f.read().splitlines()[-1].split()
            except (OSError, IndexError):
                return False
            return [int(v) for v in last[:3]] == [x, y, buttons]
        wait_until("MousePoll to give %d %d %d" % (x, y, buttons), seen, 30)

    screen = d.x11_display()
    ox, oy = d.origin
    screen.xdotool("mousemove", ox + 100, oy + 50)
    polled(100, 50, 0)
    screen.xdotool("mousemove", ox + 500, oy + 100)
    polled(500, 100, 0)
    screen.xdotool("mousemove", ox + 200, oy + 200, "mousedown", 1)
    polled(200, 200, 1)
    screen.xdotool("mousemove", ox + 450, oy + 360)
    polled(450, 360, 1)
    screen.xdotool("mouseup", 1)
    polled(450, 360, 0)
    open(os.path.join(folder, "stop"), "w").close()
    assert d.process.wait(60) == 0, text()


TESTS = [("test_library_operations_on_the_real_platform", test_library_operations_on_the_real_platform)]
