"""The behaviour suite's driver for talvo.exe under Wine on a private Xvfb
display. One Wine prefix and one wineserver serve the whole run: making a
prefix is slow, starting a program in a live one is not.

With no window manager, Wine leaves the frame to nobody: the X window of
Talvo is its client area, and keys go to the window under the pointer.
The system menu is walked with the keyboard by the known order of its items
(Wine's menus cannot be read back from outside: menu() reads the program's
own records of them, which it writes once a flow chose a language, else
gives None)."""
import atexit
import os
import shutil
import subprocess
import sys
import tempfile
import time

import behaviour
import driver
import journal
import mounts
from behaviour import HEIGHT, LAYOUT_KEYS, WIDTH, wait_until
from x11 import Display

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))
import po_catalogue  # noqa: E402

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
EXE = os.environ.get("TALVO_EXE", os.path.join(ROOT, "build/win32/talvo.exe"))
CHECK_EXE = os.path.join(os.path.dirname(EXE), "talvo-library-check.exe")
SIM_EXE = os.environ.get("TALVO_SIM_EXE", os.path.join(os.path.dirname(EXE), "talvo-sim.exe"))
START_TIMEOUT = 180.0
# The locale each language flow runs in.
LOCALES = {"de": "de_DE", "fr": "fr_FR", "es": "es_ES", "ja": "ja_JP", "zh_CN": "zh_CN", "it": "it_IT"}


class Session:
    """The display, the prefix and its wineserver, made once per run."""

    def __init__(self):
        # The flows that mount read-only folders and small disks do it where
        # the server, which does some of the programs' file calls, sees them.
        if mounts.available():
            mounts.private()
        self.display = Display()
        # TALVO_WINE_PREFIX keeps a prefix between runs (for working on the
        # driver); by default each run makes its own and removes it.
        self.kept = os.environ.get("TALVO_WINE_PREFIX")
        self.log = tempfile.TemporaryFile()
        try:
            # Wine under qemu-user now and then loses its server while a
            # prefix is made, and every program then waits for ever: such a
            # prefix is thrown away and made again.
            for attempt in range(3):
                self.prefix = self.kept or tempfile.mkdtemp(prefix="talvo-wine-")
                fresh = not os.path.exists(os.path.join(self.prefix, "system.reg"))
                if self._boot(fresh):
                    break
                print("# wine prefix not made (attempt %d)" % (attempt + 1), flush=True)
                self._end_server()
                if fresh:
                    # Half made, kept or not: the next attempt makes it anew.
                    shutil.rmtree(self.prefix, ignore_errors=True)
            else:
                raise AssertionError("no Wine prefix could be made")
            self.menu = behaviour.expected_menu()
        except BaseException:
            self.close()
            raise

    def _boot(self, fresh):
        """Makes the prefix when fresh, else starts its session's services."""
        self.env = dict(self.display.env, WINEARCH="win32", WINEPREFIX=self.prefix, WINEDEBUG="-all",
                        # No Mono or Gecko installers: nothing here needs them;
                        # no menu entries or file types of the prefix's
                        # programs in this machine's own desktop.
                        WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe=",
                        # Where i386 code runs under qemu-user, Wine's address
                        # space reservation is quick only with a guest space a
                        # little over 2 GiB (ignored where i386 runs natively).
                        QEMU_RESERVED_VA="0x88000000")
        # The server outlives every program of the run, so the prefix's
        # services start once. Its output goes to a file: the services
        # inherit it and keep it open.
        subprocess.run(["wineserver", "-p"], env=self.env, check=False, timeout=60)
        started = time.monotonic()
        # Only this attempt's output counts, read with pread: a seek would
        # move the offset that the programs writing it share.
        log = self.log.fileno()
        mark = os.fstat(log).st_size
        boot = subprocess.Popen(["wineboot", "-i"] if fresh else ["wineboot"], env=self.env, stdout=self.log,
                                stderr=self.log)
        while boot.poll() is None and time.monotonic() - started < 480:
            if b"wineserver crashed" in os.pread(log, os.fstat(log).st_size - mark, mark):
                break
            time.sleep(1)
        if boot.poll() != 0:
            return False
        print("# wine prefix ready in %.0f s" % (time.monotonic() - started), flush=True)
        return True

    def _end_server(self):
        """Ends the server and every program of this prefix, even those
        left waiting on a server that is gone."""
        try:
            subprocess.run(["wineserver", "-k"], env=self.env, check=False, timeout=60)
        except subprocess.TimeoutExpired:
            pass
        mark = ("WINEPREFIX=" + self.prefix).encode()
        for pid in filter(str.isdigit, os.listdir("/proc")):
            try:
                with open("/proc/%s/environ" % pid, "rb") as f:
                    if mark in f.read().split(b"\0") and int(pid) != os.getpid():
                        os.kill(int(pid), 9)
            except OSError:
                pass

    def locales(self):
        """A folder of the locales the language flows name (LOCPATH), made
        once: Wine takes the user's language from the process's locale,
        which glibc sets only for a locale it has."""
        if not hasattr(self, "locale_folder"):
            self.locale_folder = tempfile.mkdtemp(prefix="talvo-locales-")
            for name in LOCALES.values():
                subprocess.run(["localedef", "-i", name, "-f", "UTF-8", os.path.join(self.locale_folder, name + ".UTF-8")],
                               check=True, capture_output=True, timeout=120)
        return self.locale_folder

    def close(self):
        if hasattr(self, "locale_folder"):
            shutil.rmtree(self.locale_folder, ignore_errors=True)
        if hasattr(self, "env"):
            self._end_server()
            if not self.kept:
                shutil.rmtree(self.prefix, ignore_errors=True)
        self.display.close()


_session = None


def session():
    global _session
    if _session is None:
        _session = Session()
        atexit.register(_session.close)
    return _session


def keystrokes(path, menu):
    """Keys that choose `path` ('Speed/Stop', 'Clear') in the system menu,
    once it is open with its first item highlighted: up from there wraps to
    the last item, and the program's items are the last ones."""
    top, children, current = [], {}, None
    for line in menu:
        stripped = line.lstrip()
        if stripped == "----":
            continue
        label = stripped[4:] if stripped.startswith("[") else stripped[:-2] if stripped.endswith(" >") else stripped
        if line.startswith(" "):
            children[current].append(label)
        else:
            top.append(label)
            current = label
            children[label] = []
    first, _, second = path.partition("/")
    keys = ["Up"] * (len(top) - top.index(first))
    if second:
        keys += ["Right"] + ["Down"] * children[first].index(second)
    return keys + ["Return"]


def client_corner(at, width, height):
    """The top-left corner of the client area of a small window of ours at
    geometry `at`, with a frame Wine draws (an even border, the caption
    above), or None where the window is not of that client size."""
    border = (at["WIDTH"] - width) // 2
    if border < 0 or at["WIDTH"] - width != 2 * border or at["HEIGHT"] < height + 2 * border:
        return None
    return at["X"] + border, at["Y"] + at["HEIGHT"] - height - border


class Driver(driver.OnScreen):
    def __init__(self):
        self.s = session()
        self.d = self.s.display
        self.process = None
        self.log = None
        # A second program's driver leaves the first one's windows alone:
        # those open as it starts.
        self.beside = False
        self.others = set()
        # What a flow adds to the programs' environment (the user's language),
        # and the program's texts in that language.
        self.extra_env = {}
        self.texts = {}
        # Every flow starts at the default zoom: the prefix, and the user's
        # data folder in it, serve the whole run.
        for top, _, files in os.walk(os.path.join(self.s.prefix, "drive_c", "users")):
            if os.path.basename(top) == "Talvo" and "zoom" in files:
                os.remove(os.path.join(top, "zoom"))

    def start(self, folder, args=(), program=EXE, timeout=START_TIMEOUT):
        """Starts talvo.exe, or `program` (start.exe /wait, to open a file
        as Explorer does) that starts it and waits for it."""
        self.log = tempfile.TemporaryFile()
        if self.beside:
            self.others = set(self.d.windows("Talvo"))
        self._run(folder, [program, *args], self.log, timeout)

    def speak(self, language):
        # Wine's way of choosing the user's UI language: the locale of LANG.
        name = LOCALES[language] + ".UTF-8"
        self.extra_env = dict(LANG=name, LC_ALL=name, LOCPATH=self.s.locales(), TALVO_TEST_LAYOUT="1")
        self.texts = po_catalogue.catalogues(os.path.join(ROOT, "po")).get(language, {})
        return True

    def menu(self):
        """The program's items of the system menu, from its records (with
        their texts as Windows holds them) and the marks set since."""
        if self.extra_env.get("TALVO_TEST_LAYOUT") != "1":
            return None

        def records():
            self.log.seek(0)
            return [line.split(" ", 2)[1:] for line in self.log.read().decode(errors="replace").splitlines()
                    if line.startswith("menu ")]
        wait_until("the menu's records", lambda: any(r[0] == "mark" for r in records()))
        items, marks = {}, {}
        for menu, record in records():
            head, _, text = record.partition(" text=")
            fields = dict(w.split("=") for w in head.split()[menu != "mark":])
            if menu == "mark":
                marks[fields["id"]] = fields["on"] == "1"
            else:
                items.setdefault(int(menu), []).append((fields["kind"], fields["id"], int(fields["popup"]), text))
        lines = []

        def walk(menu, indent):
            for kind, number, popup, text in items.get(menu, []):
                lines.append(indent + ("----" if kind == "separator" else text + " >" if kind == "popup" else
                                       "[%s] %s" % ("x" if marks.get(number) else " ", text)))
                if kind == "popup":
                    walk(popup, indent + "  ")
        walk(0, "")
        return lines

    def library_check(self, folder, log):
        self._run(folder, [CHECK_EXE], log)

    def x11_display(self):
        return self.d

    def _run(self, folder, command, log, timeout=START_TIMEOUT):
        env = dict(self.s.env, **self.extra_env)
        if self.__dict__.get("watching"):
            env["TALVO_TEST_LAYOUT"] = "1"
        self.process = subprocess.Popen(["wine", *command], cwd=folder, env=env,
                                        stdout=log, stderr=subprocess.STDOUT)
        window = wait_until("Talvo's window", lambda: self._window("Talvo"), timeout, every=0.5)
        self.window = window
        assert self.field_size(), "client area not a whole multiple of 336 x 402"

    def _window(self, name):
        if self.process.poll() is not None:
            raise AssertionError("talvo.exe ended with %s" % self.process.returncode)
        for window in self._own(name):
            if self._zoom_of(window):
                return window
        return None

    def _zoom_of(self, window):
        """((x, y), scale) of the window's client area (Wine's X window of
        it) where it is a whole multiple of 336 x 402, else None."""
        at = self.d.geometry(window)
        if at is None:
            return None
        width, height = at["WIDTH"], at["HEIGHT"]
        scale = width // WIDTH
        if scale < 1 or (width, height) != (WIDTH * scale, HEIGHT * scale):
            return None
        return (at["X"], at["Y"]), scale

    def _own(self, name="Talvo"):
        """This program's windows of that title (its main window, a note, a box)."""
        return [w for w in self.d.windows(name) if w not in self.others]

    def _field_on_screen(self):
        return self._zoom_of(self.window)

    def pixel_drag(self, points, button="left", held=()):
        number = 1 if button == "left" else 3
        if held:
            self.d.xdotool("keydown", *held)
        self.d.xdotool("mousemove", self.origin[0] + points[0][0], self.origin[1] + points[0][1])
        self.d.xdotool("mousedown", number)
        for x, y in points[1:]:
            self.d.xdotool("mousemove", self.origin[0] + x, self.origin[1] + y)
        self.d.xdotool("mouseup", number)
        if held:
            self.d.xdotool("keyup", *held)

    def _pointer_on_window(self):
        self.d.xdotool("mousemove", *self._point(WIDTH // 2, HEIGHT // 2))

    def _popups(self):
        """How many of Wine's popup (menu) windows show now."""
        out = self.d.run("xwininfo", "-root", "-children", check=False)
        return out.count('(has no name): ("talvo.exe"')

    def choose(self, path):
        self._pointer_on_window()
        self.d.xdotool("key", "alt+space")
        wait_until("the system menu", lambda: self._popups() >= 1, 30)
        for key in keystrokes(path, self.s.menu):
            if key == "Return" and "/" in path:
                wait_until("the popup of " + path, lambda: self._popups() >= 2, 30)
            self.d.xdotool("key", key)
        wait_until("the menu to close", lambda: self._popups() == 0, 30)

    def drag(self, points, button="left", held=(), during=None):
        number = 1 if button == "left" else 3
        if held:
            self.d.xdotool("keydown", *held)
        self.d.xdotool("mousemove", *self._point(*points[0]))
        self.d.xdotool("mousedown", number)
        for x, y in points[1:]:
            self.d.xdotool("mousemove", *self._point(x, y))
        if during:
            during()
        self.d.xdotool("mouseup", number)
        if held:
            self.d.xdotool("keyup", *held)

    def key_down(self, name, held=()):
        # Keys go to the window under the pointer; it stays where it is, so
        # that the pen's cursor is not taken over by the mouse.
        if held:
            self.d.xdotool("keydown", *held)
        self.d.xdotool("keydown", name)
        if held:
            self.d.xdotool("keyup", *held)

    def key_up(self, name):
        self.d.xdotool("keyup", name)

    def about_is_open(self):
        return bool(self.d.windows(self.texts.get("About Talvo", "About Talvo")))

    def about_ok(self):
        dialog = self.d.windows(self.texts.get("About Talvo", "About Talvo"))[0]
        # The pointer on the dialog, Enter presses its default button, OK.
        self.d.key_on(dialog, "Return")

    def watch_windows(self):
        self.watching = True

    def keys_list(self):
        """The list's lines as the program read them back from its window
        (TALVO_TEST_LAYOUT), the last time it showed."""
        if not self.d.windows("Keys"):
            return None
        self.log.seek(0)
        lines = self.log.read().decode(errors="replace").splitlines()
        shown = [i for i, line in enumerate(lines) if line.startswith("layout keys dpi=")]
        if not shown:
            return None
        return [line[len("text keys "):] for line in lines[shown[-1]:] if line.startswith("text keys ")] or None

    def close_keys_list(self):
        self.d.key_on(self.d.wait_window("Keys"), "Escape")

    def drop(self, path):
        # Wine takes XDND on the window's top-level X window, which here is
        # the client area.
        assert self.d.drop(self.window, *self._point(WIDTH // 2, HEIGHT // 2), path, timeout=60), "drop refused"

    def key(self, combo):
        self._pointer_on_window()
        self.d.xdotool("key", combo)

    def layouts(self):
        # Wine's keyboard driver finds no match for a layout with no Latin
        # group (plain "ru") and gives its letter keys virtual keys of its
        # own choosing, where Windows gives VK_A to VK_Z: nothing the program
        # gets names the key then.
        return [layout for layout in LAYOUT_KEYS if layout != "ru"]

    def use_layout(self, layout):
        self.d.use_layout(layout)

    def key_on_layout(self, layout, held, letter):
        self._pointer_on_window()
        self.d.press_keycodes(*[{"ctrl": 37, "shift": 50}[m] for m in held.split("+") if m],
                              LAYOUT_KEYS[layout][letter][2])

    def answer(self, folder, args):
        # Its standard output and error are pipes here, as a script's
        # redirection gives them: the answer goes there, not to a box.
        run = subprocess.run(["wine", EXE, *args], cwd=folder, env=self.s.env, stdout=subprocess.PIPE,
                             stderr=subprocess.STDOUT, timeout=START_TIMEOUT)
        # Written as Windows writes text.
        return run.returncode, run.stdout.decode(errors="replace").replace("\r\n", "\n")

    def answered_in_a_box(self, folder, args):
        """Runs talvo.exe as Explorer or a shortcut starts it (start.exe,
        which hands it no standard handles, waits and passes its status on);
        waits for the box it answers in, presses its OK and returns the exit
        status."""
        process = subprocess.Popen(["wine", "start", "/wait", "/unix", EXE, *args], cwd=folder, env=self.s.env,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            def box():
                assert process.poll() is None, "ended with %s and no box" % process.returncode
                return self._own()
            self.d.key_on(wait_until("the box", box, START_TIMEOUT, every=0.5)[0], "Return")
            return process.wait(60)
        finally:
            if process.poll() is None:
                process.kill()
                process.wait()

    def start_refused(self, folder):
        env = dict(self.s.env, TALVO_TEST_NO_SURFACE="1")
        process = subprocess.Popen(["wine", EXE], cwd=folder, env=env, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL)
        try:
            # The pointer on the box, Enter presses its OK.
            self.d.key_on(self.d.wait_window("ERROR", START_TIMEOUT), "Return")
            return process.wait(60)
        finally:
            if process.poll() is None:
                process.kill()
                process.wait()

    def repaint(self):
        # Wine puts a covered window back from its own copy of it, with no
        # WM_PAINT (seen here: neither a window over it nor the About box
        # brought a stroke made at Stop to the screen).
        return False

    def session_ends(self):
        return ["the end of the Windows session"]

    def end_session(self, how):
        # Wine's logoff: WM_QUERYENDSESSION, then WM_ENDSESSION, to every
        # window; a program still there afterwards is ended.
        subprocess.run(["wineboot", "--end-session"], env=self.s.env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=300)
        try:
            code = self.process.wait(60)
        except subprocess.TimeoutExpired:
            raise AssertionError("talvo.exe did not end with the session")
        assert code == 0, "talvo.exe ended with %d" % code

    def talvo_sim(self):
        return ["wine", SIM_EXE], self.s.env

    def kills(self):
        # Wine's taskkill finds no process of a 32-bit program run under
        # qemu; a SIGKILL ends it as abruptly, without a message to it.
        return ["SIGKILL"]

    def kill(self, how):
        self.process.kill()
        assert self.process.wait(60) != 0, "talvo.exe ended as if closed"
        wait_until("Talvo's windows to go", lambda: not self._own(), 30)

    def journals(self):
        found = []
        for top, folders, _ in os.walk(os.path.join(self.s.prefix, "drive_c", "users")):
            if os.path.basename(top) == "journal" and os.path.basename(os.path.dirname(top)) == "Talvo":
                found += [journal.segments_in(os.path.join(top, f)) for f in folders]
        return found

    def request_close(self):
        if len(self._own()) > 1:
            # A box of its own has the keyboard, where Alt+F4 would close
            # the box: the window is closed as by its close button.
            self.d.ask_to_close(self.window)
            return
        self._pointer_on_window()
        self.d.xdotool("key", "alt+F4")

    def save_file(self, key, path):
        self.key(key)
        # Windows' common dialog, given the Unix path as Wine's drive Z:.
        self.d.answer_save_dialog("Save As", "Z:" + path.replace("/", "\\"), 240)
        wait_until("the saved file", lambda: os.path.exists(path) and os.path.getsize(path) > 0, 240)
        return True

    def another(self):
        other = Driver()
        other.beside = True
        return other

    def note_shown(self):
        # The note is a window of its own, with the program's title.
        return len(self._own()) > 1

    def error_boxes(self):
        # Wine's message box has the caption the program gave it, "Talvo",
        # the window's own title, as a note does.
        return len(self._error_boxes())

    def _error_boxes(self):
        # Of our other windows still there, those not of a note's size.
        return [w for w, at in ((w, self.d.geometry(w)) for w in self._own() if w != self.window)
                if at is not None and not client_corner(at, 320, 120)]

    def dismiss_error(self):
        self.d.key_on(self._error_boxes()[-1], "Return")

    def close(self):
        by_button = len(self._own()) > 1
        self.request_close()
        end = time.monotonic() + 60
        while True:
            try:
                code = self.process.wait(10)
                break
            except subprocess.TimeoutExpired:
                if time.monotonic() > end:
                    raise AssertionError("talvo.exe did not end after %s" % ("its close button" if by_button
                                                                               else "Alt+F4"))
            # Wine under qemu now and then loses a WM_DELETE_WINDOW sent just
            # after a stroke: its event log never shows it, while the pointer
            # moves after it do show and the field goes on running; one sent
            # again is taken. The button is pressed again, as a user would;
            # only this window is asked, never whatever lies under the pointer.
            if by_button and self.window in self._own():
                self.d.ask_to_close(self.window)
        assert code == 0, "talvo.exe ended with %d" % code

    def stop(self):
        if self.process and self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        # Whatever it left open (a dialog, a menu) goes with it.
        wait_until("Talvo's windows to go", lambda: not self._own() and (self.others or not self._popups()), 30)

    # --- what the flows of saves_checks.py ask

    def _notes(self):
        """This program's note windows (its other windows titled Talvo)."""
        return max(0, len(self._own()) - 1)

    def note_text(self):
        # A note's text is not read from outside here: only that it shows.
        return False

    def note_count(self):
        return self._notes()

    def _client(self, window, width, height):
        """client_corner of the window, None where it has gone."""
        at = self.d.geometry(window)
        return client_corner(at, width, height) if at is not None else None

    def dismiss_notes(self):
        """Presses OK in every note window (320 x 120 inside its frame, OK at
        its foot)."""
        for window in self._own():
            corner = self._client(window, 320, 120) if window != self.window else None
            if corner:
                self.d.xdotool("mousemove", corner[0] + 160, corner[1] + 98, "click", 1)
        wait_until("the notes to go", lambda: self._notes() == 0, 30)

    def _progress_window(self):
        found = [w for w in self.d.windows("Saving the animation") if w not in self.others]
        return found[0] if found else None

    def progress(self):
        """How far the bar of the progress window is filled (0 to 1), None
        while it does not show."""
        window = self._progress_window()
        if window is None:
            return None
        at = self.d.geometry(window)
        if at is None:
            return None  # closed between being listed and being measured
        corner = client_corner(at, 320, 96)
        assert corner, "the progress window is not of its size"
        # The bar: client pixels 11 to 308 of row 42, the done part in the
        # system's highlight colour.
        row = self.d.grab(corner[0] + 11, corner[1] + 42, 298, 1)
        pixels = [tuple(row[i:i + 3]) for i in range(0, len(row), 3)]
        empty = pixels[-1]
        return sum(1 for p in pixels if p != empty) / len(pixels)

    def cancel_progress(self):
        window = self._progress_window()
        assert window is not None, "no progress window"
        corner = self._client(window, 320, 96)
        assert corner, "the progress window closed before its Cancel could be pressed"
        self.d.xdotool("mousemove", corner[0] + 160, corner[1] + 74, "click", 1)

    def button_enabled(self, name):
        return None

    def save_dialog_shown(self):
        return bool(self.d.windows("Save As"))

    def answer_save(self, path):
        at = self.d.placed(self.d.wait_window("Save As", 240))
        self.d.xdotool("mousemove", at["X"] + at["WIDTH"] // 2, at["Y"] + at["HEIGHT"] // 2)
        if path is None:
            self.d.xdotool("key", "Escape")
        elif path == "":
            self.d.xdotool("key", "Return")
        else:
            self.d.answer_save_dialog("Save As", "Z:" + path.replace("/", "\\"), 240)
        wait_until("the save dialog to go", lambda: not self.d.windows("Save As"), 60)

    def error_text(self):
        return None

    def ended(self, timeout=60):
        return self.process.wait(timeout)

    def stderr(self):
        self.log.seek(0)
        return self.log.read().decode(errors="replace")

    def _user_folder(self):
        users = os.path.join(self.s.prefix, "drive_c", "users")
        return os.path.join(users, next(u for u in sorted(os.listdir(users)) if u != "Public"))

    def data_folder(self):
        return os.path.join(self._user_folder(), "AppData", "Local", "Talvo")

    def keep_screen(self, path):
        self.d.save_png(path)

    def pictures_folder(self, folder):
        """Windows' Pictures folder, as Wine makes it (or the folder it
        leads to)."""
        return os.path.realpath(os.path.join(self._user_folder(), "Pictures"))

    def evidence(self, name):
        folder = os.path.join(ROOT, "build", "win32", "evidence")
        os.makedirs(folder, exist_ok=True)
        picture = os.path.join(folder, name + ".png")
        self.d.save_png(picture)
        if self.log:
            self.log.seek(0)
            with open(os.path.join(folder, name + ".log"), "wb") as f:
                f.write(self.log.read())
        print("# evidence: " + picture, flush=True)
