"""Drives `talvo`, the GTK window, on a private Xvfb display with a private
session bus, so the accessibility tree (AT-SPI) is the program's alone: the
pointer and keys go through xdotool, the menu and the About dialog are read
and pressed through the tree, drops come from an XDND source."""
import atexit
import gettext
import os
import resource
import shutil
import signal
import subprocess
import sys
import tempfile
import time

import driver
import journal
import x11
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))
import po_catalogue  # noqa: E402
from behaviour import HEIGHT, LAYOUT_KEYS, ROOT, WIDTH, Picture, wait_until

TALVO = os.environ.get("TALVO", os.path.join(ROOT, "build/release/talvo"))
CHECK = os.path.join(os.path.dirname(TALVO), "talvo-library-check")
TITLE = "Talvo"

_shared = {}


def _session():
    """One display and one session bus for the whole run; pyatspi is loaded
    only once the bus is there, as it connects when it loads."""
    if not _shared:
        # A runtime folder of the run's own: the accessibility bus puts its
        # socket there, else in ~/.cache/at-spi, where another run beside
        # this one (the packages' checks, say) would take it over.
        runtime = tempfile.mkdtemp(prefix="talvo-runtime-")
        os.environ["XDG_RUNTIME_DIR"] = runtime
        atexit.register(shutil.rmtree, runtime, True)
        bus_log = tempfile.NamedTemporaryFile(prefix="talvo-dbus-", suffix=".log", delete=False)
        bus = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--print-address=1"],
                               stdout=subprocess.PIPE, stderr=bus_log, text=True)
        address = bus.stdout.readline().strip()
        if not address:
            raise RuntimeError("dbus-daemon did not start; see " + bus_log.name)
        os.environ["DBUS_SESSION_BUS_ADDRESS"] = address
        display = x11.Display()
        display.env["DBUS_SESSION_BUS_ADDRESS"] = address
        import pyatspi
        _shared.update(display=display, bus=bus, pyatspi=pyatspi)

        def end():
            _shared["display"].close()
            bus.terminate()
            bus.wait()
            os.unlink(bus_log.name)
        atexit.register(end)
    return _shared["display"], _shared["pyatspi"]


def _as_a_desktop_starts_it():
    """The signals that end a session as a desktop leaves them: not ignored,
    as they are for this runner under nohup or a background job."""
    for number in (signal.SIGTERM, signal.SIGHUP, signal.SIGINT):
        signal.signal(number, signal.SIG_DFL)
    # The kills of the crash flows leave no core files.
    resource.setrlimit(resource.RLIMIT_CORE, (0, 0))


class Driver(driver.OnScreen):
    def __init__(self):
        self.x, self.at = _session()
        # The program's data folder (journals, rescued scenes) is the test's.
        self.data_home = tempfile.mkdtemp(prefix="talvo-data-")
        self.process = None
        self.app = None
        self.logs = None
        self.kept = []
        # What a flow adds to the program's environment (a pictures folder).
        self.extra_env = {}
        # The names the tree gives the window's parts, in the user's language.
        self.texts = {}
        self.gtk_texts = gettext.NullTranslations()

    # --- the accessibility tree

    def _fresh(self, node):
        # The tree's cache follows events that nobody here listens to.
        node.clear_cache()
        return node

    def _find(self, node, test, depth=0):
        if node is None or depth > 12:
            return None
        if test(node):
            return node
        for child in node:
            found = self._find(child, test, depth + 1)
            if found is not None:
                return found
        return None

    def _named(self, name, role, root=None):
        return self._find(self._fresh(root or self.app),
                          lambda n: n.name == name and n.getRole() == role)

    def _showing(self, node):
        return node is not None and node.getState().contains(self.at.STATE_SHOWING)

    def _centre(self, node):
        e = node.queryComponent().getExtents(self.at.DESKTOP_COORDS)
        logical = int(self.extra_env.get("GDK_SCALE", "1"))
        return (e.x + e.width // 2) * logical, (e.y + e.height // 2) * logical

    def _field(self):
        return self._find(self._fresh(self.app), lambda n: n.getRole() == self.at.ROLE_DRAWING_AREA)

    def _menu_button(self):
        return self._named(self.texts.get("Menu", "Menu"), self.at.ROLE_TOGGLE_BUTTON)

    def _item(self, path):
        node = self._menu_button()
        for name in path.split("/"):
            node = next((c for c in node if c.name == name and c.getRole() != self.at.ROLE_SEPARATOR), None)
            assert node is not None, "no menu item " + path
        return node

    def _menu_open(self):
        button = self._menu_button()
        return button is not None and button.childCount > 0 and self._showing(self._fresh(button[0]))

    # --- the contract

    def start(self, folder, args=()):
        self.logs = tempfile.mkdtemp(prefix="talvo-gtk-")
        self.kept.append(self.logs)
        with open(os.path.join(self.logs, "stdout"), "w") as out, open(os.path.join(self.logs, "stderr"), "w") as err:
            self._run(folder, [TALVO] + list(args), out, err)

    def speak(self, language):
        # Gettext's way: LANGUAGE, which it heeds in any locale but C.
        self.extra_env.update(LANGUAGE=language, LC_ALL="C.UTF-8")
        self.texts = po_catalogue.catalogues(os.path.join(ROOT, "po")).get(language, {})
        # GTK's own parts (the header bar's close button) in GTK's words.
        self.gtk_texts = gettext.translation("gtk30", languages=[language], fallback=True)
        return True

    def library_check(self, folder, log):
        self._run(folder, [CHECK], log, log)

    def x11_display(self):
        return self.x

    def _run(self, folder, command, out, err):
        # The pointer away from where the window comes: left over a button
        # by the flow before, it would bring up a tooltip over the field.
        self.x.xdotool("mousemove", self.x.width - 1, self.x.height - 1)
        self.process = subprocess.Popen(command, cwd=folder, env=dict(self.x.env, XDG_DATA_HOME=self.data_home,
                                                                      **self.extra_env),
                                        stdout=out, stderr=err, preexec_fn=_as_a_desktop_starts_it)
        at = self.at

        def app():
            assert self.process.poll() is None, "talvo ended at start: %s" % self._stderr()
            desktop = at.Registry.getDesktop(0)
            for a in desktop:
                if a is not None and a.get_process_id() == self.process.pid:
                    return a
            return None
        self.app = wait_until("talvo in the accessibility tree", app)

        def field():
            area = self._field()
            if not self._showing(area):
                return None
            return self._extents(area)
        self.origin, self.scale = wait_until("the field shown at a whole multiple of 336 x 402", field)
        self.window = self.x.wait_window(TITLE)
        # Over any other program's window, as a new window comes.
        for window in self.x.windows(TITLE):
            if int(self.x.xdotool("getwindowpid", window, check=False) or 0) == self.process.pid:
                self.x.xdotool("windowraise", window)

    def _extents(self, area):
        """((x, y), scale) of the field on the screen where it shows a whole
        multiple of 336 x 402, else None."""
        e = area.queryComponent().getExtents(self.at.DESKTOP_COORDS)
        # The tree's positions are GDK's logical ones; the screen's pixels
        # are GDK_SCALE of them.
        logical = int(self.extra_env.get("GDK_SCALE", "1"))
        width, height = e.width * logical, e.height * logical
        scale = width // WIDTH
        if scale < 1 or (width, height) != (WIDTH * scale, HEIGHT * scale):
            return None
        return (e.x * logical, e.y * logical), scale

    def _field_on_screen(self):
        return self._extents(self._fresh(self._field()))

    def pixel_drag(self, points, button="left", held=()):
        number = {"left": 1, "right": 3}[button]
        keys = list(held)
        at = [(self.origin[0] + x, self.origin[1] + y) for x, y in points]
        args = (["keydown", *keys] if keys else []) + ["mousemove", *at[0], "mousedown", number]
        for p in at[1:]:
            args += ["mousemove", *p]
        self.x.xdotool(*args, "mouseup", number, *(["keyup", *keys] if keys else []))

    def menu(self):
        # Opened as a keyboard user does, with Alt+Space over the window.
        self.x.xdotool("mousemove", *self._point(WIDTH // 2, -20))
        self.x.xdotool("key", "alt+space")
        wait_until("the menu to open on Alt+Space", self._menu_open)
        at = self.at
        lines = []

        def walk(node, indent):
            for item in node:
                role = item.getRole()
                if role == at.ROLE_SEPARATOR:
                    lines.append(indent + "----")
                elif role == at.ROLE_MENU:
                    lines.append(indent + item.name + " >")
                    walk(item, indent + "  ")
                else:
                    mark = "x" if item.getState().contains(at.STATE_CHECKED) else " "
                    lines.append("%s[%s] %s" % (indent, mark, item.name))
        walk(self._menu_button(), "")
        self.x.xdotool("key", "Escape")
        wait_until("the menu to close", lambda: not self._menu_open())
        return lines

    def choose(self, path):
        # The button and each popup open with the pointer, as a person opens
        # them; the item is then pressed through the tree.
        self.x.xdotool("mousemove", *self._centre(self._menu_button()), "click", 1)
        wait_until("the menu to open", self._menu_open)
        names = path.split("/")
        for depth in range(1, len(names)):
            popup = self._item("/".join(names[:depth]))
            self.x.xdotool("mousemove", *self._centre(popup), "click", 1)
            wait_until("the popup " + names[depth - 1] + " to open", lambda: self._showing(self._fresh(popup)[0]))
        item = self._item(path)
        action = item.queryAction()
        action.doAction(next(i for i in range(action.nActions) if action.getName(i) == "click"))
        wait_until("the menu to close", lambda: not self._menu_open())
        wait_until("the field to keep the keyboard focus", lambda: self._field().getState().contains(self.at.STATE_FOCUSED))

    def drag(self, points, button="left", held=(), during=None):
        number = {"left": 1, "right": 3}[button]
        keys = [{"shift": "shift", "ctrl": "ctrl"}[k] for k in held]
        args = (["keydown", *keys] if keys else []) + ["mousemove", *self._point(*points[0]), "mousedown", number]
        for p in points[1:]:
            args += ["mousemove", *self._point(*p)]
        if during:
            self.x.xdotool(*args)
            during()
            args = []
        self.x.xdotool(*args, "mouseup", number, *(["keyup", *keys] if keys else []))

    def key_down(self, name, held=()):
        self.x.xdotool("mousemove", *self._point(WIDTH // 2, HEIGHT // 2))
        self.x.xdotool(*(["keydown", *held] if held else []), "keydown", name, *(["keyup", *held] if held else []))

    def key_up(self, name):
        self.x.xdotool("keyup", name)

    def _about(self):
        return self._named("About Talvo", self.at.ROLE_DIALOG, self.app)

    def about_is_open(self):
        return self._showing(self._about())

    def about_ok(self):
        ok = self._named("OK", self.at.ROLE_PUSH_BUTTON, self._about())
        assert ok is not None, "no OK button in About"
        ok.queryAction().doAction(0)

    def _keys(self):
        return self._named("Keys", self.at.ROLE_DIALOG, self.app)

    def keys_list(self):
        dialog = self._keys()
        if not self._showing(dialog):
            return None
        labels = []

        def walk(node, depth=0):
            for child in node:
                if child.getRole() == self.at.ROLE_LABEL:
                    e = child.queryComponent().getExtents(self.at.DESKTOP_COORDS)
                    labels.append((e.y, e.x, child.name))
                elif depth < 8:
                    walk(child, depth + 1)
        walk(dialog)
        # Row by row as the grid shows them, the keys' column first.
        rows = {}
        for y, x, name in sorted(labels):
            rows.setdefault(y, []).append(name)
        return ["\t".join(row) for _, row in sorted(rows.items())] or None

    def close_keys_list(self):
        self.x.key_on(self.x.wait_window("Keys"), "Escape")

    def keys_button(self):
        button = self._named("Keys", self.at.ROLE_PUSH_BUTTON)
        assert button is not None, "no Keys button in the bar"
        button.queryAction().doAction(0)
        return True

    def drop(self, path):
        x, y = self._point(WIDTH // 2, HEIGHT // 2)
        assert self.x.drop(self.window, x, y, path), "the window refused the drop"

    def key(self, combo):
        self.x.xdotool("mousemove", *self._point(WIDTH // 2, HEIGHT // 2))
        self.x.xdotool("key", combo)

    def layouts(self):
        return list(LAYOUT_KEYS)

    def use_layout(self, layout):
        self.x.use_layout(layout)

    def key_on_layout(self, layout, held, letter):
        self.x.xdotool("mousemove", *self._point(WIDTH // 2, HEIGHT // 2))
        self.x.press_keycodes(*[{"ctrl": 37, "shift": 50}[m] for m in held.split("+") if m],
                              LAYOUT_KEYS[layout][letter][2])

    def clipboard(self):
        got = subprocess.run(["xclip", "-selection", "clipboard", "-t", "image/png", "-o"], env=self.x.env,
                             capture_output=True, timeout=30)
        return Picture.from_png(got.stdout) if got.returncode == 0 and got.stdout else None

    def answer(self, folder, args):
        run = subprocess.run([TALVO, *args], cwd=folder, env=dict(self.x.env, XDG_DATA_HOME=self.data_home),
                             stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=60)
        return run.returncode, run.stdout.decode(errors="replace")

    def start_refused(self, folder):
        env = dict(self.x.env, TALVO_TEST_NO_SURFACE="1")
        process = subprocess.Popen([TALVO], cwd=folder, env=env, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL, preexec_fn=_as_a_desktop_starts_it)
        try:
            # The box's OK button has the focus: Enter presses it.
            self.x.key_on(self.x.wait_window("ERROR", 60), "Return")
            return process.wait(30)
        finally:
            if process.poll() is None:
                process.kill()
                process.wait()

    def repaint(self):
        self.x.cover(*self.origin, WIDTH, HEIGHT)

    def session_ends(self):
        return ["SIGTERM", "SIGHUP", "SIGINT", "the display lost"]

    def end_session(self, how):
        if how == "the display lost":
            # The X server goes; the rest of the run gets a new one.
            self.x.close()
            fresh = x11.Display()
            fresh.env["DBUS_SESSION_BUS_ADDRESS"] = os.environ["DBUS_SESSION_BUS_ADDRESS"]
            _shared["display"] = self.x = fresh
            want = 1
        else:
            number = getattr(signal, how)
            self.process.send_signal(number)
            # Saved, then ended by that same signal.
            want = -number
        try:
            code = self.process.wait(20)
        except subprocess.TimeoutExpired:
            raise AssertionError("talvo did not end after " + how)
        assert code == want, "talvo ended with %d after %s (not %d): %s" % (code, how, want, self._stderr())

    def kills(self):
        # From outside, with no crash hooks in the program.
        return ["SIGKILL", "SIGSEGV", "SIGABRT"]

    def kill(self, how):
        number = getattr(signal, how)
        self.process.send_signal(number)
        code = self.process.wait(30)
        assert code == -number, "ended with %d, not by %s" % (code, how)

    def journals(self):
        return [journal.segments_in(f) for f in journal.folders(self.data_home)]

    def request_close(self):
        close = self._named(self.gtk_texts.gettext("Close"), self.at.ROLE_PUSH_BUTTON)
        assert close is not None, "no close button"
        self.x.xdotool("mousemove", *self._centre(close), "click", 1)

    def save_file(self, key, path):
        self.key(key)
        # GTK's own chooser.
        self.x.answer_save_dialog("Save", path, 60)
        wait_until("the saved file", lambda: os.path.exists(path) and os.path.getsize(path) > 0, 120)
        return True

    def another(self):
        # The same user: the same data folder, where the scenes' locks are.
        other = Driver()
        shutil.rmtree(other.data_home)
        other.data_home = self.data_home
        other.stop = lambda: Driver.stop_keeping_data(other)
        return other

    def stop_keeping_data(self):
        if self.process and self.process.poll() is None:
            self.process.kill()
            self.process.wait()

    def _bar(self, name):
        # Found once a start: while the program is busy a walk of its tree
        # takes seconds.
        cache = self.__dict__.setdefault("_bars", {})
        if cache.get((self.process, name)) is None:
            cache[(self.process, name)] = self._find(
                self._fresh(self.app), lambda n: n.getRole() == self.at.ROLE_INFO_BAR and n.name == self.texts.get(name, name))
        return cache[(self.process, name)]

    def note_shown(self):
        return self._showing(self._bar("Note"))

    def note_text(self):
        bar = self._bar("Note")
        if not self._showing(bar):
            return None
        label = self._find(bar, lambda n: n.getRole() == self.at.ROLE_LABEL)
        return label.name if label is not None else ""

    def dismiss_notes(self):
        close = self._find(self._bar("Note"), lambda n: n.getRole() == self.at.ROLE_PUSH_BUTTON)
        assert close is not None, "no close button on the note"
        close.queryAction().doAction(0)
        wait_until("the note to go", lambda: not self.note_shown(), 30)

    def progress(self):
        """How far the progress below the field is (0 to 1), None while it
        does not show."""
        bar = self._bar("Progress")
        if not self._showing(self._fresh(bar)):
            return None
        fill = self._find(bar, lambda n: n.getRole() == self.at.ROLE_PROGRESS_BAR)
        return fill.queryValue().currentValue

    def cancel_progress(self):
        cancel = self._named("Cancel", self.at.ROLE_PUSH_BUTTON, self._bar("Progress"))
        assert cancel is not None, "no Cancel in the progress"
        cancel.queryAction().doAction(0)

    def button_enabled(self, name):
        button = self._named(name, self.at.ROLE_PUSH_BUTTON)
        assert button is not None, "no button " + name
        return button.getState().contains(self.at.STATE_SENSITIVE)

    def save_dialog_shown(self):
        return bool(self.x.windows("Save"))

    def answer_save(self, path):
        """Answers the save dialog that comes next: saved at `path`, the
        name suggested where `path` is "", or refused where it is None."""
        if path is None:
            at = self.x.placed(self.x.wait_window("Save", 60))
            self.x.xdotool("mousemove", at["X"] + at["WIDTH"] // 2, at["Y"] + 10)
            self.x.xdotool("key", "Escape")
        elif path == "":
            at = self.x.placed(self.x.wait_window("Save", 60))
            self.x.xdotool("mousemove", at["X"] + at["WIDTH"] // 2, at["Y"] + 10)
            self.x.xdotool("key", "Return")
        else:
            self.x.answer_save_dialog("Save", path, 60)
        wait_until("the save dialog to go", lambda: not self.x.windows("Save"), 30)

    def error_text(self):
        boxes = self._error_box_nodes()
        if not boxes:
            return None
        label = self._find(boxes[-1], lambda n: n.getRole() == self.at.ROLE_LABEL and len(n.name) > 20)
        return label.name if label is not None else ""

    def ended(self, timeout=30):
        """The exit status, once the program has ended."""
        return self.process.wait(timeout)

    def stderr(self):
        return self._stderr()

    def data_folder(self):
        return os.path.join(self.data_home, "talvo")

    def keep_screen(self, path):
        self.x.save_png(path)

    def pictures_folder(self, folder):
        """The pictures folder the next start gets, as a desktop sets it
        (XDG user dirs)."""
        config, pictures = os.path.join(folder, "config"), os.path.join(folder, "Pictures")
        os.makedirs(config, exist_ok=True)
        os.makedirs(pictures, exist_ok=True)
        with open(os.path.join(config, "user-dirs.dirs"), "w") as f:
            f.write('XDG_PICTURES_DIR="%s"\n' % pictures)
        self.extra_env["XDG_CONFIG_HOME"] = config
        return pictures

    def _error_box_nodes(self):
        at = self.at
        return [n for n in self._fresh(self.app) if n.getRole() == at.ROLE_ALERT and self._showing(n)]

    def error_boxes(self):
        return len(self._error_box_nodes())

    def dismiss_error(self):
        ok = self._named("OK", self.at.ROLE_PUSH_BUTTON, self._error_box_nodes()[-1])
        assert ok is not None, "no OK button in the error box"
        ok.queryAction().doAction(0)

    def close(self):
        self.request_close()
        try:
            code = self.process.wait(20)
        except subprocess.TimeoutExpired:
            raise AssertionError("talvo did not end after its close button")
        assert code == 0, "talvo ended with %d: %s" % (code, self._stderr())

    def stop(self):
        if self.process and self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        for logs in self.kept:
            shutil.rmtree(logs, ignore_errors=True)
        shutil.rmtree(self.data_home, ignore_errors=True)

    def _stderr(self):
        try:
            with open(os.path.join(self.logs, "stderr")) as f:
                return f.read().strip()
        except OSError:
            return ""

    def evidence(self, name):
        if not self.logs:
            return
        self.x.save_png(os.path.join(self.logs, name + ".png"))
        self.kept.remove(self.logs)
        print("  evidence: %s (screen, stdout, stderr)" % self.logs, flush=True)
