"""What a person does with Talvo's window, checked the same way on every
backend. A driver (gtk_driver.py, wine_driver.py, web_driver.py) knows how to
start the program, look at its client area, use its menu and mouse, drop a
file and close it; everything here is backend-neutral.

Run: tests/desktop/run BACKEND [TEST...]
"""
import os
import random
import shutil
import subprocess
import sys
import tempfile
import time
import traceback

import journal

WALL = (200, 160, 64)
GRAINS = {(0, 240, 220), (0, 160, 200), (255, 0, 0), (160, 0, 0)}
WIDTH, HEIGHT = 336, 402
NEW_SCENE_SIZE = 200588


class Picture:
    """The client area as 336 x 402 RGB triples."""

    def __init__(self, rgb):
        assert len(rgb) == WIDTH * HEIGHT * 3, len(rgb)
        self.rgb = bytes(rgb)

    def at(self, x, y):
        i = 3 * (y * WIDTH + x)
        return tuple(self.rgb[i:i + 3])

    def count(self, colours, box=(0, 0, WIDTH, HEIGHT)):
        x0, y0, x1, y1 = box
        return sum(1 for y in range(y0, y1) for x in range(x0, x1) if self.at(x, y) in colours)

    def frame_is_wall(self):
        edge = [(x, 0) for x in range(WIDTH)] + [(x, HEIGHT - 1) for x in range(WIDTH)]
        edge += [(0, y) for y in range(HEIGHT)] + [(WIDTH - 1, y) for y in range(HEIGHT)]
        return all(self.at(x, y) == WALL for x, y in edge)

    def __eq__(self, other):
        return self.rgb == other.rgb

    @staticmethod
    def of_blocks(rgb, scale):
        """The cells of a picture of the field at `scale` screen pixels a
        cell, each by its block's top-left pixel."""
        if scale == 1:
            return Picture(rgb)
        row = WIDTH * scale * 3
        out = bytearray()
        for y in range(HEIGHT):
            line = rgb[y * scale * row:y * scale * row + row]
            for x in range(WIDTH):
                out += line[3 * x * scale:3 * x * scale + 3]
        return Picture(out)

    @staticmethod
    def from_png(data):
        """A PNG of the client area's size, decoded by ImageMagick."""
        rgb = subprocess.run(["convert", "png:-", "-depth", "8", "rgb:-"], input=data, check=True,
                             capture_output=True).stdout
        return Picture(rgb)


def wait_until(what, predicate, timeout=20.0, every=0.1):
    """Polls until predicate() is true; fails with `what` after timeout."""
    end = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > end:
            raise AssertionError("timed out waiting: " + what)
        time.sleep(every)


def end_process(process, grace):
    """Asks a helper process (a display server, a browser) to end, and ends
    it for good after `grace` seconds."""
    process.terminate()
    try:
        process.wait(grace)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()


def settled(driver, timeout=10.0):
    """Waits until two pictures half a second apart are equal; returns it."""
    last = [driver.shot()]

    def same():
        time.sleep(0.5)
        now = driver.shot()
        equal = now == last[0]
        last[0] = now
        return equal
    wait_until("the picture to stand still", same, timeout, every=0)
    return last[0]


def moving(driver, timeout=10.0):
    first = driver.shot()
    wait_until("the grains to move", lambda: driver.shot() != first, timeout)


class Scene:
    """The settings in a scene file's header."""

    def __init__(self, path):
        with open(path, "rb") as f:
            self.data = f.read()
        assert self.data[:5] == b"TALVO", path
        d = self.data
        self.pen = d[15] & 15
        self.eraser = d[15] >> 4
        self.count, self.slot1, self.slot2, self.speed = (
            int.from_bytes(d[o:o + 2], "little", signed=True) for o in (20, 22, 24, 26))


def sim_path():
    return os.environ.get("TALVO_SIM", os.path.join(ROOT, "build/release/talvo-sim"))


def expected_menu(language="en", scene=None):
    """The program's part of the menu with its default marks (or those of
    the scene file `scene`), as talvo-sim prints it in that language,
    without the command ids: '[x] Drawing on', 'Pen >', ..."""
    folder = tempfile.mkdtemp(prefix="talvo-menu-")
    try:
        if scene:
            shutil.copy(scene, os.path.join(folder, "x.talvo"))
        out = subprocess.run([sim_path(), "--frames", "1", "--menu", "--language", language, "x.talvo"], cwd=folder,
                             check=True, capture_output=True, text=True).stdout
    finally:
        shutil.rmtree(folder)
    lines = out.splitlines()
    first = max(i for i, line in enumerate(lines) if line.endswith("Close"))
    program = []
    for line in lines[first + 1:]:
        stripped = line.lstrip()
        indent = line[:len(line) - len(stripped)]
        if stripped.startswith("["):
            mark, _, label = stripped[4:].partition(" ")
            stripped = stripped[:4] + label
        program.append(indent + stripped)
    return program


def marks_of(menu):
    """{'Pen/Thick': True, 'Drawing on': True, 'Clear': False, ...} from menu
    lines; None when the menu cannot be read."""
    if menu is None:
        return None
    marks, popup = {}, ""
    for line in menu:
        stripped = line.lstrip()
        if stripped.endswith(" >"):
            popup = stripped[:-2] + "/"
        elif stripped.startswith("["):
            marks[(popup if line.startswith(" ") else "") + stripped[4:]] = stripped[1] == "x"
    return marks


def scene_has_cells(path, cells):
    """Whether the scene file holds a wall at each (x, y) of cells."""
    data = Scene(path).data
    field = 28 + (1024 if data[12:13] == b"B" else 24)
    return all(data[field + y * WIDTH + x] & 7 == 1 for x, y in cells)


def stroke_cells(y, x0, x1):
    """The cells of columns x0..x1-1 that a thin stroke along row y covers."""
    return [(x, yy) for x in range(x0, x1) for yy in (y - 1, y)]


def scene_has_wall(path, y, x0, x1):
    return scene_has_cells(path, stroke_cells(y, x0, x1))


def horizontal_stroke(y, x0, x1, step=3):
    return [(x, y) for x in range(x0, x1 + 1, step)]


def stroke_events(frame, y, x0, x1):
    """Scripted input of a left-button stroke, a move every few cells."""
    moves = "".join("%d mousemove %d %d\n" % (frame + 1, x, y) for x, _ in horizontal_stroke(y, x0, x1))
    return "%d lbuttondown %d %d\n%s%d lbuttonup %d %d\n" % (frame, x0, y, moves, frame + 2, x1, y)


def make_scene(folder, name, events):
    """A scene written by talvo-sim after the given scripted input."""
    with open(os.path.join(folder, "events.txt"), "w") as f:
        f.write(events)
    subprocess.run([sim_path(), "--frames", "50", "--seed", "5", "--events", "events.txt", name],
                   cwd=folder, check=True, capture_output=True)
    os.remove(os.path.join(folder, "events.txt"))
    return os.path.join(folder, name)


# --- The flows. Each gets a driver whose program is not running and a fresh
# folder; it leaves the program closed.

def test_start_shows_frame_and_grains_and_close_saves(d, folder):
    d.start(folder)
    wait_until("the field frame in the wall colour and grains",
               lambda: (lambda p: p.frame_is_wall() and p.count(GRAINS) > 500)(d.shot()))
    moving(d)
    d.close()
    scene = Scene(os.path.join(folder, "Default.talvo"))
    assert len(scene.data) == NEW_SCENE_SIZE, len(scene.data)


def test_menu_has_every_item_in_order_with_default_marks(d, folder):
    d.start(folder)
    shown = d.menu()
    if shown is None:
        d.close()
        return "skipped: this backend's menu cannot be read"
    expected = expected_menu()
    assert shown[-len(expected):] == expected, "\n".join(shown)
    d.close()


def test_the_menu_speaks_the_players_language(d, folder):
    """Chosen as the platform's users choose a language, the menu is in
    German or Japanese, every item where English has it, with the same
    marks; a language Talvo has no texts in (Italian) gets the English
    menu. The scene a German window saves at Stop is the one an English
    window saves."""
    languages = (("de", ["[x] Zeichnen an", "[ ] Leeren", "Stift >", "  [x] Normal", "Tempo >", "[ ] \u00dcber Talvo"]),
                 ("ja", ["[x] \u63cf\u753b\u30aa\u30f3", "\u30da\u30f3 >", "\u901f\u5ea6 >",
                         "  [ ] \u30ce\u30fc\u30a6\u30a7\u30a4\u30c8", "[ ] Talvo\u306b\u3064\u3044\u3066"]),
                 ("it", ["[x] Drawing on", "Pen >", "[ ] About talvo"]))
    saved = {}
    for language, some in languages:
        if not d.speak(language):
            return "skipped: this driver cannot choose the user's language"
        scene = make_scene(folder, language + ".talvo", "1 command 40\n")
        d.start(folder, [language + ".talvo"])
        shown = d.menu()
        if shown is None:
            d.close()
            return "skipped: this backend's menu cannot be read"
        expected = expected_menu("en" if language == "it" else language, scene)
        assert shown[-len(expected):] == expected, "%s:\n%s" % (language, "\n".join(shown))
        missing = [line for line in some if line not in shown]
        assert not missing, "%s: the menu lacks %s:\n%s" % (language, missing, "\n".join(shown))
        d.close()
        saved[language] = Scene(os.path.join(folder, language + ".talvo")).data
    assert saved["de"] == saved["it"], "the scene saved in German differs from the one saved in English"


def test_stop_halts_the_grains_and_another_speed_resumes(d, folder):
    d.start(folder)
    moving(d)
    d.choose("Speed/Stop")
    still = settled(d)
    time.sleep(1.0)
    assert d.shot() == still, "grains moved at Stop"
    d.choose("Speed/Normal")
    moving(d)
    d.close()
    assert Scene(os.path.join(folder, "Default.talvo")).speed == 2


def shows_cells(picture, cells):
    return all(picture.at(x, y) == WALL for x, y in cells)


def stroke_is_wall(picture, y, x0, x1):
    return shows_cells(picture, stroke_cells(y, x0, x1))


def draw_stroke(d, y):
    """Drags the pen along row y from x 60 to 219 and returns the wall cells
    the window then shows in the stroke's rows. A platform merges mouse moves
    that wait in its queue while the program is busy, and the pen stamps only
    once between two moves however far apart they are: gaps are possible, so
    what the window showed is what must be saved."""
    d.drag(horizontal_stroke(y, 60, 219))
    # The last move's stamp shows once every move before it was handled.
    picture = wait_until("the stroke's last stamp in row %d" % y,
                         lambda: (lambda p: p if stroke_is_wall(p, y, 218, 220) else None)(d.shot()))
    return {cell for cell in stroke_cells(y, 60, 220) if picture.at(*cell) == WALL}


def test_drag_draws_a_wall_and_choices_reach_the_scene_file_and_come_back(d, folder):
    d.start(folder)
    d.choose("Speed/Normal")
    shown = draw_stroke(d, 300)
    for path in ("Pen/Thick", "Eraser/Small", "Kind of sand1/Heavy sand", "Kind of sand2/Magical sand"):
        d.choose(path)
    marks = marks_of(d.menu())
    if marks is not None:
        for label in ("Pen/Thick", "Eraser/Small", "Kind of sand1/Heavy sand", "Kind of sand2/Magical sand",
                      "Speed/Normal", "Drawing on"):
            assert marks.get(label), (label, marks)
        assert not marks.get("Pen/Normal") and not marks.get("Eraser/Big"), marks
    d.close()
    scene = Scene(os.path.join(folder, "Default.talvo"))
    assert (scene.pen, scene.eraser, scene.slot1, scene.slot2, scene.speed) == (2, 0, 1, 4, 2), vars(scene)
    assert scene_has_cells(os.path.join(folder, "Default.talvo"), shown), "the stroke was not saved"

    d.restart(folder, "Default.talvo")
    wait_until("the saved wall after the restart", lambda: shows_cells(d.shot(), shown))
    marks = marks_of(d.menu())
    if marks is not None:
        for label in ("Pen/Thick", "Eraser/Small", "Kind of sand1/Heavy sand", "Kind of sand2/Magical sand"):
            assert marks.get(label), (label, marks)
    d.close()


def test_about_halts_the_grains_until_ok(d, folder):
    d.start(folder)
    moving(d)
    d.choose("About talvo")
    wait_until("the About dialog", d.about_is_open)
    still = settled(d)
    time.sleep(1.0)
    assert d.shot() == still, "grains moved while About was open"
    d.about_ok()
    wait_until("the About dialog to go", lambda: not d.about_is_open())
    moving(d)
    d.close()


def test_dropped_scene_loads_and_close_saves_to_it(d, folder):
    elsewhere = tempfile.mkdtemp(prefix="talvo-drop-")
    try:
        # A wall across, then the Thin pen, Slow, Dusty and Boiling sand.
        dropped = make_scene(elsewhere, "dropped.talvo", stroke_events(2, 200, 40, 280) +
                             "10 command 20\n10 command 41\n10 command 52\n10 command 63\n")
        d.start(folder)
        moving(d)
        d.drop(dropped)
        wait_until("the dropped scene's wall", lambda: stroke_is_wall(d.shot(), 200, 40, 280))
        marks = marks_of(d.menu())
        if marks is not None:
            for label in ("Pen/Thin", "Speed/Slow", "Kind of sand1/Dusty sand", "Kind of sand2/Boiling sand"):
                assert marks.get(label), (label, marks)
        # What the close must bring to the dropped file: a stroke drawn on it.
        shown = draw_stroke(d, 330)
        d.close()
        assert os.path.exists(os.path.join(folder, "Default.talvo")), "the scene before the drop was not saved"
        assert scene_has_cells(dropped, shown), "closing did not save to the dropped file"
        after = Scene(dropped)
        assert (after.pen, after.speed, after.slot1, after.slot2) == (0, 1, 2, 3), vars(after)
    finally:
        shutil.rmtree(elsewhere)


def two_scenes(folder):
    """Scenes a and b, with a wall of their own in rows 200 and 120."""
    return (make_scene(folder, "a.talvo", stroke_events(2, 200, 40, 280)),
            make_scene(folder, "b.talvo", stroke_events(2, 120, 40, 280)))


def draw_on_a_then_open_b(d, a, b):
    """Opens scene a, draws a stroke on it in row 330, then opens scene b;
    returns the stroke's cells as the window showed them."""
    d.drop(a)
    wait_until("scene a", lambda: stroke_is_wall(d.shot(), 200, 40, 280))
    shown = draw_stroke(d, 330)
    d.drop(b)
    wait_until("scene b", lambda: (lambda p: stroke_is_wall(p, 120, 40, 280) and
                                   not shows_cells(p, shown))(d.shot()))
    return shown


def test_switching_scenes_keeps_the_edits_of_each(d, folder):
    """A scene left for another one is saved as it is left, and coming back
    to it shows what was drawn on it."""
    elsewhere = tempfile.mkdtemp(prefix="talvo-switch-")
    try:
        a, b = two_scenes(elsewhere)
        d.start(folder)
        shown = draw_on_a_then_open_b(d, a, b)
        d.close()
        assert scene_has_cells(a, shown), "the stroke on scene a was lost when b was opened"
        assert scene_has_wall(b, 120, 40, 280) and not scene_has_cells(b, shown)
        d.restart(folder, a)
        wait_until("scene a with its stroke", lambda: (lambda p: stroke_is_wall(p, 200, 40, 280) and
                                                        shows_cells(p, shown))(d.shot()))
        d.close()
    finally:
        shutil.rmtree(elsewhere)


def test_a_repaint_at_stop_shows_what_was_drawn_meanwhile(d, folder):
    """At Stop the loop shows nothing new, but the window painted anew shows
    the scene as it is."""
    d.start(folder)
    d.choose("Speed/Stop")
    settled(d)
    d.drag(horizontal_stroke(330, 60, 219))
    if d.repaint() is False:
        d.close()
        return "skipped: nothing from outside makes this backend's window paint anew"
    # Each repaint shows the scene of its moment: the one after the stroke
    # has reached the program shows it.
    wait_until("the stroke in a repainted window",
               lambda: d.repaint() or stroke_is_wall(d.shot(), 330, 60, 219))
    d.close()
    assert scene_has_wall(os.path.join(folder, "Default.talvo"), 330, 60, 219)


def test_every_way_the_session_ends_saves_the_scene(d, folder):
    ends = d.session_ends()
    if not ends:
        return "skipped: this backend shows no end of a session but its close"
    for number, how in enumerate(ends):
        name = "end-%d.talvo" % number
        d.start(folder, [name])
        d.choose("Speed/Slow")
        shown = draw_stroke(d, 330)
        d.end_session(how)
        path = os.path.join(folder, name)
        assert os.path.exists(path), how + ": no scene saved"
        assert scene_has_cells(path, shown), how + ": the stroke was not saved"
        assert Scene(path).speed == 1, how + ": the speed was not saved"
    return "ended by " + ", ".join(ends)


def test_ctrl_c_copies_the_picture_the_window_shows(d, folder):
    d.start(folder)
    d.choose("Speed/Stop")
    shown = settled(d)
    d.key("ctrl+c")
    copied = wait_until("a picture on the clipboard", lambda: d.clipboard() is not None and [d.clipboard()], 30)[0]
    d.close()
    if copied is False:
        return "skipped: this backend's clipboard cannot be read from outside"
    assert copied == shown, "the clipboard's picture is not the window's"


def test_the_command_line_is_answered_or_refused_before_any_window(d, folder):
    """--version and --help are answered without a window; an option the
    program does not know is refused with its usage and a failure, and no
    scene is written under its name; a scene whose name begins with a dash
    is reached after --."""
    version = subprocess.run([sim_path(), "--version"], check=True, capture_output=True, text=True).stdout.split()[1]
    answered = d.answer(folder, ["--version"])
    if answered is None:
        return "skipped: this backend has no command line to type"
    assert answered == (0, "talvo %s\n" % version), answered
    code, out = d.answer(folder, ["--help"])
    assert code == 0 and "usage: talvo" in out and "\n  --data-home " in out, (code, out)
    for args in (["--bogus"], ["x.talvo", "--bogus"], ["-x.talvo"]):
        code, out = d.answer(folder, args)
        assert code == 2 and "unknown option" in out and "usage: talvo" in out, (args, code, out)
    assert not os.listdir(folder), "a refused command line wrote %s" % os.listdir(folder)
    d.start(folder, ["--", "-dash.talvo"])
    d.close()
    assert os.listdir(folder) == ["-dash.talvo"], os.listdir(folder)
    Scene(os.path.join(folder, "-dash.talvo"))
    # --data-home works in the user's own folder; a scene named beside it
    # is still the file it named.
    d.start(folder, ["--data-home", "named.talvo"])
    d.close()
    d.start(folder, ["--data-home"])
    d.close()
    assert sorted(os.listdir(folder)) == ["-dash.talvo", "named.talvo"], os.listdir(folder)
    Scene(os.path.join(d.data_folder(), "Default.talvo"))


def test_a_window_without_its_surface_says_so_and_ends_with_a_failure(d, folder):
    code = d.start_refused(folder)
    if code is None:
        return "skipped: this backend cannot be started without its surface"
    assert code == 1, "ended with %s" % code
    assert not os.listdir(folder), "a window without its surface wrote %s" % os.listdir(folder)


def test_the_end_of_a_session_while_about_is_open_saves_and_ends(d, folder):
    """About gives way to the end of the session as the close does."""
    ends = d.session_ends()
    if not ends:
        return "skipped: this backend shows no end of a session but its close"
    d.start(folder, ["about.talvo"])
    d.choose("Speed/Slow")
    shown = draw_stroke(d, 330)
    d.choose("About talvo")
    wait_until("the About dialog", d.about_is_open)
    d.end_session(ends[0])
    path = os.path.join(folder, "about.talvo")
    assert scene_has_cells(path, shown) and Scene(path).speed == 1, "the scene was not saved"
    return "ended by " + ends[0]


def test_a_second_close_while_the_error_box_is_up_is_not_taken(d, folder):
    """The box that says a scene could not be saved belongs to the window:
    closing the window again while it is up does nothing, and once it is
    dismissed the first close ends the program, its scene rescued."""
    scene = make_scene(folder, "locked.talvo", "")
    os.chmod(scene, 0o444)
    before = open(scene, "rb").read()
    d.start(folder, ["locked.talvo"])
    if d.error_boxes() is None:
        d.close()
        return "skipped: this backend's errors are no boxes"
    d.request_close()
    wait_until("the error box", lambda: d.error_boxes() == 1, 60)
    d.request_close()
    # The window takes no input while the box is up: no second box comes,
    # and the window stays until the box is dismissed.
    end = time.monotonic() + 3
    while time.monotonic() < end:
        assert d.error_boxes() == 1, "a second error box"
        assert d.process.poll() is None, "the program ended with its box up"
        time.sleep(0.2)
    d.dismiss_error()
    code = d.process.wait(60)
    assert code == 0, "ended with %d" % code
    assert open(scene, "rb").read() == before, "the read-only scene was replaced"


def test_undo_takes_back_a_stroke_and_redo_brings_it_again(d, folder):
    """Ctrl+Z takes the last stroke back, Ctrl+Y brings it forward again,
    and the scene keeps what was redone."""
    d.start(folder)
    d.choose("Speed/Slow")
    shown = draw_stroke(d, 330)
    gone = lambda: (lambda picture: not any(picture.at(*cell) == WALL for cell in shown))(d.shot())
    d.key("ctrl+z")
    wait_until("the stroke taken back", gone)
    d.key("ctrl+y")
    wait_until("the stroke back", lambda: shows_cells(d.shot(), shown))
    d.key("ctrl+z")
    wait_until("the stroke taken back again", gone)
    d.key("ctrl+shift+z")
    wait_until("the stroke back by Ctrl+Shift+Z", lambda: shows_cells(d.shot(), shown))
    d.close()
    assert scene_has_cells(os.path.join(folder, "Default.talvo"), shown), "the redone stroke was not saved"


# The keys labelled Z and Y on keyboards of each layout (setxkbmap's names):
# what the key types there, the key's place as a browser names it, and its
# X keycode (the evdev driver's). "ru,us" is Russian with its Cyrillic group
# in force and a Latin one beside it.
LAYOUT_KEYS = {
    "us": {"z": ("z", "KeyZ", 52), "y": ("y", "KeyY", 29)},
    "de": {"z": ("z", "KeyY", 29), "y": ("y", "KeyZ", 52)},
    "fr": {"z": ("z", "KeyW", 25), "y": ("y", "KeyY", 29)},
    "ru": {"z": ("\u044f", "KeyZ", 52), "y": ("\u043d", "KeyY", 29)},
    "ru,us": {"z": ("\u044f", "KeyZ", 52), "y": ("\u043d", "KeyY", 29)},
}
# The zoom keys there: the key that types "+" or "=" (German: the + key
# beside Ü), "-" (French: the 6 key) and "0" (French: the key of à, 0
# shifted).
for _layout, _keys in LAYOUT_KEYS.items():
    _keys.update({"=": ("=", "Equal", 21), "-": ("-", "Minus", 20), "0": ("0", "Digit0", 19)})
LAYOUT_KEYS["de"].update({"=": ("+", "BracketRight", 35), "-": ("-", "Slash", 61)})
LAYOUT_KEYS["fr"].update({"-": ("-", "Digit6", 15), "0": ("\u00e0", "Digit0", 19)})


def test_undo_and_redo_keys_work_on_every_keyboard_layout(d, folder):
    """Ctrl with the key labelled Z takes the last stroke back and Ctrl with
    the one labelled Y brings it again, wherever the layout puts them and
    whatever letters its keys type (the key's Latin meaning counts, as in
    the platform's own shortcuts)."""
    layouts = d.layouts()
    if not layouts:
        return "skipped: this backend's keyboard layout cannot be chosen"
    try:
        for layout in layouts:
            d.use_layout(layout)
            d.start(folder, ["%s.talvo" % layout.replace(",", "-")])
            d.choose("Speed/Slow")
            shown = draw_stroke(d, 330)
            d.key_on_layout(layout, "ctrl", "z")
            wait_until("the stroke taken back on the %s layout" % layout,
                       lambda: (lambda picture: not any(picture.at(*cell) == WALL for cell in shown))(d.shot()))
            d.key_on_layout(layout, "ctrl", "y")
            wait_until("the stroke back on the %s layout" % layout, lambda: shows_cells(d.shot(), shown))
            d.close()
    finally:
        d.use_layout("us")
    return "on " + ", ".join(layouts)


def test_zoom_keys_work_on_every_keyboard_layout(d, folder):
    """Ctrl with the key that types "+" (or "=") zooms in, with the one that
    types "-" out and with the one that types "0" back to 1x, wherever the
    layout puts them."""
    layouts = d.layouts() if d.zoom_keys else []
    if not layouts:
        return "skipped: this backend's zoom keys are not the program's, or its layout cannot be chosen"
    try:
        for layout in layouts:
            d.use_layout(layout)
            d.start(folder, ["%s.talvo" % layout.replace(",", "-")])
            for key, step in (("=", 2), ("=", 3), ("-", 2), ("0", 1)):
                d.key_on_layout(layout, "ctrl", key)
                wait_until("%dx by Ctrl and the key typing %s on the %s layout" % (step, LAYOUT_KEYS[layout][key][0],
                                                                                layout),
                           lambda: d.field_size() == (WIDTH * step, HEIGHT * step), 30)
            d.close()
    finally:
        d.use_layout("us")
    return "on " + ", ".join(layouts)


# What the list of the keys calls undo's key on each layout: the key with
# Z's Latin meaning, by the letter it types there.
UNDO_LABELS = {"us": "Ctrl+Z", "de": "Ctrl+Z", "fr": "Ctrl+Z", "ru": "Ctrl+\u042f (Z)", "ru,us": "Ctrl+\u042f (Z)"}


def test_f1_lists_the_keys_as_the_layout_labels_them_and_changes_nothing(d, folder):
    """F1 shows the list of the keys, named as the keyboard's layout
    labels them (undo is Ctrl with the key labelled Z on AZERTY, the one
    labelled \u042f on a Russian keyboard), while the grains go on; Escape
    takes it away, and the scene keeps its settings and walls."""
    scene = make_scene(folder, "s.talvo", "1 command 41\n" + stroke_events(2, 200, 40, 280))
    before = Scene(scene)
    d.watch_windows()
    layouts = [l for l in d.layouts() if l in ("fr", "ru", "ru,us")] if d.key_labels else []
    try:
        for layout in ["us"] + layouts:
            d.use_layout(layout)
            d.start(folder, ["s.talvo"])
            wait_until("the scene", lambda: stroke_is_wall(d.shot(), 200, 40, 280))
            d.key("F1")
            lines = wait_until("the list of the keys", d.keys_list, 30)
            moving(d)
            keys = dict(line.split("\t", 1) for line in lines)
            undo = UNDO_LABELS[layout]
            assert "undo" in keys.get(undo, ""), (layout, undo, lines)
            assert "redo" in keys.get("%s, Ctrl+Shift+%s" % (undo.replace("Z", "Y").replace("\u042f", "\u041d"),
                                                              undo.partition("+")[2]), ""), (layout, lines)
            assert {"Left button", "Right button", "F1", "Ctrl+0"} <= set(keys), lines
            d.close_keys_list()
            wait_until("the list to go", lambda: d.keys_list() is None, 30)
            if d.keys_button():
                wait_until("the list by the window's keys button", lambda: undo in dict(
                    line.split("\t", 1) for line in d.keys_list() or []), 30)
                d.close_keys_list()
                wait_until("the list to go", lambda: d.keys_list() is None, 30)
            d.close()
            saved = d.scene_bytes(folder, "s.talvo")
            with open(scene, "wb") as f:
                f.write(saved)
            after = Scene(scene)
            assert after.data[:28] == before.data[:28], "the settings changed with the list (%s)" % layout
            assert scene_has_wall(scene, 200, 40, 280), "the stroke went with the list (%s)" % layout
    finally:
        d.use_layout("us")
    return "on " + ", ".join(["us"] + layouts) if layouts else "on us; the Latin letters alone"


def test_a_picture_and_an_animation_of_the_field_are_saved_as_shown(d, folder):
    """P saves the field as talvo-sim pictures it, G the last minute: at
    Stop, one frame, the same picture."""
    make_scene(folder, "s.talvo", "1 command 40\n" + stroke_events(2, 200, 40, 280))
    shutil.copy(os.path.join(folder, "s.talvo"), os.path.join(folder, "reference.talvo"))
    subprocess.run([sim_path(), "--frames", "1", "--png", "reference.png", "reference.talvo"], cwd=folder, check=True,
                   capture_output=True)
    with open(os.path.join(folder, "reference.png"), "rb") as f:
        reference = Picture.from_png(f.read())
    d.start(folder, ["s.talvo"])
    wait_until("the scene", lambda: stroke_is_wall(d.shot(), 200, 40, 280))
    saved = os.path.join(folder, "picture.png")
    if d.save_file("p", saved) is None:
        d.close()
        return "skipped: this engine's protocol takes no downloads"
    with open(saved, "rb") as f:
        assert Picture.from_png(f.read()) == reference, "the picture is not talvo-sim's of the same scene"
    animation = os.path.join(folder, "animation.gif")
    d.save_file("g", animation)
    frames = subprocess.run(["convert", animation, "-coalesce", "-depth", "8", "rgb:-"], check=True,
                            capture_output=True).stdout
    size = WIDTH * HEIGHT * 3
    assert len(frames) >= size and len(frames) % size == 0, len(frames)
    assert Picture(frames[-size:]) == reference, "the animation does not end with the field as shown"
    d.close()


def test_two_programs_on_one_scene_lose_no_work(d, folder):
    """A second program on a scene the first has open works on a copy of
    its own and says so: each keeps its own strokes."""
    other = d.another()
    if other is None:
        return "skipped: one program is all this platform runs"
    make_scene(folder, "s.talvo", "")
    d.start(folder, ["s.talvo"])
    d.choose("Speed/Slow")
    first = draw_stroke(d, 300)
    try:
        other.start(folder, ["s.talvo"])
        wait_until("the second program's note", other.note_shown, 60)
        other.choose("Speed/Slow")
        second = draw_stroke(other, 200)
        other.close()
    finally:
        other.stop()
    d.close()
    scene, copy = os.path.join(folder, "s.talvo"), os.path.join(folder, "s (2).talvo")
    assert scene_has_cells(scene, first) and not scene_has_cells(scene, second), "the first program's scene"
    assert scene_has_cells(copy, second) and not scene_has_cells(copy, first), "the second program's copy"


def scripted_session(seed):
    """Strokes, erasing, menu commands (a stand-still among them), for some
    seeds Clear, and undo and redo back past the Clear or the last strokes
    and forward: talvo-sim's scripted input."""
    lines = ["5 lbuttondown 40 %d" % (150 + seed % 50)]
    lines += ["6 mousemove %d %d" % (40 + 20 * i, 150 + seed % 50 + 3 * i) for i in range(1, 12)]
    lines += ["7 lbuttonup 260 200",
              "20 command 22", "22 lbuttondown 30 320", "23 mousemove 170 330", "23 mousemove 310 320",
              "24 lbuttonup 310 320",
              "40 command %d" % (50 + seed % 5), "40 command %d" % (60 + (seed // 5) % 5),
              "60 rbuttondown 100 %d" % (150 + seed % 50), "61 mousemove 160 200", "62 rbuttonup 160 200",
              "70 command 30", "80 command 40", "85 lbuttondown 10 100", "86 mousemove 40 130", "86 lbuttonup 40 130",
              "90 command 43", "100 command 10", "101 lbuttondown 200 100", "102 mousemove 220 120",
              "102 lbuttonup 220 120", "110 command 10",
              # Straight walls and boxes, the keyboard's pen, one frame at
              # a time at Stop and on again.
              "115 lbuttondown 30 200 shift", "116 lbuttonup 200 250 shift", "118 lbuttondown 40 300 ctrl",
              "119 lbuttonup 120 360 ctrl shift", "120 rbuttondown 50 310 ctrl", "121 rbuttonup 90 340 ctrl",
              "122 key 39", "122 key 32", "123 key 40 shift", "124 keyup 32", "125 char .", "126 char .",
              "127 command 42"]
    if seed % 2:
        lines += ["130 command 7", "135 command 41"]
    lines += ["140 char 26", "141 char 26", "142 char 25", "150 char 26"]
    return "\n".join(lines) + "\n"


def test_this_builds_talvo_sim_writes_what_the_native_one_writes(d, folder):
    """This platform's talvo-sim and the native one, given the same seed and
    input, write the same scene file byte for byte, from the second seed on
    each loading the scene it saved before and saving over it; at the last
    seed the same picture, animation and menu; and after 6000 frames, when
    grains have wrapped from the bottom to the top and piled up (each by
    code of its own in the step), the same scene."""
    other = d.talvo_sim()
    if other is None:
        return "skipped: this backend's talvo-sim is the native one"
    command, env = other
    builds = (("native", [sim_path()], os.environ), ("this", command, env))
    for name, _, _ in builds:
        os.mkdir(os.path.join(folder, name))

    def run(*args):
        written = []
        for name, program, environment in builds:
            result = subprocess.run(program + list(args), cwd=os.path.join(folder, name), env=environment,
                                    capture_output=True, timeout=300)
            assert result.returncode == 0, (name, result.stderr.decode(errors="replace"))
            written.append(result.stdout)
        return written

    def same(file, what):
        with open(os.path.join(folder, "native", file), "rb") as a, open(os.path.join(folder, "this", file), "rb") as b:
            assert a.read() == b.read(), "this build wrote another %s than the native one" % what

    for seed in (1, 7, 40):
        with open(os.path.join(folder, "events.txt"), "w") as f:
            f.write(scripted_session(seed))
        args = ["--frames", "200", "--seed", str(seed), "--events", "../events.txt"]
        if seed == 40:
            args += ["--menu", "--png", "scene.png", "--gif", "scene.gif", "--gif-every", "3"]
        menus = run(*args, "scene.talvo")
        same("scene.talvo", "scene file at seed %d" % seed)
    same("scene.png", "picture")
    same("scene.gif", "animation")
    assert menus[0].replace(b"\r\n", b"\n") == menus[1].replace(b"\r\n", b"\n"), "another menu:\n%s" % menus[1]
    run("--seed", "3", "--frames", "6000", "long.talvo")
    same("long.talvo", "scene after 6000 frames")


# Shapes by the mouse with keys held, and a wall by the keyboard alone:
# (what the window is given, talvo-sim's scripted input of the same).
PRECISE = [
    (("drag", [(60, 80), (150, 100), (280, 120)], "left", ("shift",)),
     "2 lbuttondown 60 80 shift\n2 lbuttonup 280 120 shift\n"),
    (("drag", [(20, 20), (300, 300)], "left", ("shift",)), "2 lbuttondown 20 20 shift\n2 lbuttonup 300 300 shift\n"),
    (("drag", [(50, 150), (100, 200), (150, 250)], "left", ("ctrl",)),
     "2 lbuttondown 50 150 ctrl\n2 lbuttonup 150 250 ctrl\n"),
    (("drag", [(180, 150), (250, 200)], "left", ("ctrl", "shift")),
     "2 lbuttondown 180 150 ctrl shift\n2 lbuttonup 250 200 ctrl shift\n"),
    (("drag", [(200, 160), (230, 190)], "right", ("ctrl",)), "2 rbuttondown 200 160 ctrl\n2 rbuttonup 230 190 ctrl\n"),
]
KEYBOARD_WALL = [("Right", ()), ("Right", ()), ("Right", ()), ("space", ()), ("Down", ("shift",)),
                 ("Down", ("shift",)), ("Down", ("shift",))]
KEY_EVENTS = {"Right": "key 39", "Down": "key 40", "space": "key 32"}


def test_straight_walls_boxes_the_keyboards_pen_and_one_frame_at_a_time(d, folder):
    """At Stop: Shift-drags draw straight walls, the second on from the
    first's end; a Ctrl-drag a box's outline, Ctrl+Shift a filled box, and
    with the right button the box's inside is cleared; the arrow keys with
    Space held draw a wall with no mouse; Ctrl+Z takes that wall back in one
    step and Ctrl+Y brings it again; the period runs one frame. The scene
    then is the one talvo-sim makes of the same input."""
    make_scene(folder, "s.talvo", "1 command 40\n1 command 20\n")
    shutil.copy(os.path.join(folder, "s.talvo"), os.path.join(folder, "alone.talvo"))
    d.start(folder, ["s.talvo"])
    settled(d)
    script = ""
    # While the button is held the window shows the line and the box's
    # outline that the release will draw, though nothing is drawn yet.
    previews = {0: [(170, 100), (115, 90)], 2: [(100, 150), (150, 200)]}
    for number, ((_, points, button, held), events) in enumerate(PRECISE):
        cells = previews.get(number)
        d.drag(points, button, held, during=cells and (lambda: wait_until("the shape shown while it is dragged",
                                                                           lambda: shows_cells(d.shot(), cells))))
        script += events
    # Each shape shows as it is drawn, at Stop too.
    wait_until("the filled box", lambda: shows_cells(d.shot(), [(185, 155), (245, 195)]))
    for name, held in KEYBOARD_WALL:
        d.key_down(name, held)
        if name != "space":
            d.key_up(name)
        script += "2 %s%s\n" % (KEY_EVENTS[name], "".join(" " + h for h in held))
    d.key_up("space")
    script += "2 keyup 32\n"
    # From the cursor's start at the middle, three cells right, then down by
    # tens: the thin pen's stamps and the halfway ones between them (the
    # last under the cursor, which shows over it).
    wall = [(170, 200), (171, 201), (170, 206), (171, 211), (170, 221), (171, 226)]
    wait_until("the keyboard's wall", lambda: shows_cells(d.shot(), wall))
    d.key("ctrl+z")
    wait_until("the keyboard's wall taken back", lambda: (lambda p: not any(p.at(*c) == WALL for c in wall))(d.shot()))
    d.key("ctrl+y")
    wait_until("the keyboard's wall again", lambda: shows_cells(d.shot(), wall))
    script += "2 char 26\n2 char 25\n"
    before = d.shot()
    d.key_down("period")
    d.key_up("period")
    wait_until("one frame run", lambda: d.shot() != before)
    script += "2 char .\n"
    d.close()
    with open(os.path.join(folder, "events.txt"), "w") as f:
        f.write(script)
    subprocess.run([sim_path(), "--frames", "10", "--events", "events.txt", "alone.talvo"], cwd=folder, check=True,
                   capture_output=True)
    with open(os.path.join(folder, "s.talvo"), "rb") as a, open(os.path.join(folder, "alone.talvo"), "rb") as b:
        assert a.read() == b.read(), "the window's scene is not talvo-sim's of the same input"


def uneven_block(rgb, scale):
    """The first cell whose block of scale x scale screen pixels is not one
    colour, as (x, y); None when every cell is a sharp square."""
    row = WIDTH * scale * 3
    for y in range(HEIGHT):
        lines = [rgb[(y * scale + dy) * row:(y * scale + dy + 1) * row] for dy in range(scale)]
        for x in range(WIDTH):
            first = lines[0][3 * x * scale:3 * x * scale + 3]
            block = first * scale
            if any(line[3 * x * scale:3 * (x + 1) * scale] != block for line in lines):
                return x, y
    return None


def wait_for_zoom(d, step):
    return wait_until("the field at %dx (%d x %d)" % (step, WIDTH * step, HEIGHT * step),
                      lambda: d.field_size() == (WIDTH * step, HEIGHT * step), 30)


# What the pointer does at each zoom, in screen pixels of the field, and
# talvo-sim's input of the same in cells: a stroke pressed at a cell's last
# pixel and moved to its first (the pen stamps where the pointer moves),
# and a box from a press and a release at other corners of their cells,
# so that a point mapped to the wrong cell moves a wall.
def zoomed_input(step, click, box, held):
    (cx, cy), ((x0, y0), (x1, y1)) = click, box
    last = step - 1
    pointer = [([(cx * step + last, cy * step + last), (cx * step, cy * step)], ()),
               ([(x0 * step, y0 * step + last), (x1 * step + last, y1 * step)], held)]
    keys = "".join(" " + k for k in held)
    events = "2 lbuttondown %d %d\n2 mousemove %d %d\n2 lbuttonup %d %d\n" % (cx, cy, cx, cy, cx, cy)
    events += "2 lbuttondown %d %d%s\n2 lbuttonup %d %d%s\n" % (x0, y0, keys, x1, y1, keys)
    return pointer, events


def test_zoom_by_whole_steps_keeps_cells_sharp_and_the_pointer_on_them(d, folder):
    """Ctrl+plus and Ctrl+= zoom to 2x and 3x (the page: its zoom item), the
    field a whole multiple of 336 x 402, every cell a sharp square on the
    screen; a click and a box drawn with the pointer at each zoom land on
    the cells under it, as talvo-sim's run of the same input in cells
    shows. The zoom is remembered at the next start; Ctrl+minus and Ctrl+0
    go back, and 1x is remembered too."""
    make_scene(folder, "s.talvo", "1 command 40\n1 command 20\n")
    shutil.copy(os.path.join(folder, "s.talvo"), os.path.join(folder, "alone.talvo"))
    d.start(folder, ["s.talvo"])
    settled(d)
    script = ""
    for step, combo, click, box, held in ((2, "ctrl+plus", (100, 150), ((40, 200), (90, 260)), ("ctrl",)),
                                          (3, "ctrl+equal", (201, 151), ((180, 200), (221, 231)), ("ctrl", "shift"))):
        d.zoom_key(combo)
        wait_for_zoom(d, step)
        pointer, events = zoomed_input(step, click, box, held)
        for points, keys in pointer:
            d.pixel_drag(points, held=keys)
        script += events
        # At Stop a stroke shows with the box drawn after it (a box shows
        # as it is drawn, a stroke only with the next picture).
        wait_until("the stroke's wall at %dx" % step, lambda: d.shot().at(*click) == WALL)
        if step == 2:
            screen = d.field_pixels()
            if screen is not None:
                assert len(screen) == WIDTH * HEIGHT * 12, len(screen)
                assert uneven_block(screen, 2) is None, "cell %s is no sharp square at 2x" % (uneven_block(screen, 2),)
                assert Picture.of_blocks(screen, 2) == d.shot(), "the screen at 2x is not the field's cells"
    wait_until("the filled box at 3x", lambda: shows_cells(d.shot(), [(182, 202), (219, 229)]))
    d.close()
    with open(os.path.join(folder, "events.txt"), "w") as f:
        f.write(script)
    subprocess.run([sim_path(), "--frames", "10", "--events", "events.txt", "alone.talvo"], cwd=folder, check=True,
                   capture_output=True)
    window, alone = Scene(os.path.join(folder, "s.talvo")).data, Scene(os.path.join(folder, "alone.talvo")).data
    field = 28 + (1024 if window[12:13] == b"B" else 24)
    walls = [((i - field) % WIDTH, (i - field) // WIDTH) for i in range(field, field + WIDTH * HEIGHT)
             if (window[i] & 7 == 1) != (alone[i] & 7 == 1)]
    assert not walls, "the window's walls differ from talvo-sim's of the same input at %s" % walls[:8]
    assert window == alone, "the zoomed window's scene is not talvo-sim's of the same input in cells"

    d.restart(folder, "s.talvo")
    wait_for_zoom(d, 3)
    d.zoom_key("ctrl+minus")
    wait_for_zoom(d, 2)
    d.zoom_key("ctrl+0")
    wait_for_zoom(d, 1)
    wait_until("the scene at 1x", lambda: d.shot().at(201, 151) == WALL)
    d.close()
    d.restart(folder, "s.talvo")
    wait_for_zoom(d, 1)
    d.close()


def test_a_killed_program_is_rebuilt_as_its_journal_kept_it(d, folder):
    """Ended with no chance to save, each way the platform has, the program
    rebuilds at its next start the scene of the last frame its journal
    flushed, and says so. The journal as the end left it shows every input
    flushed in time by the program's own clock; the rebuilt scene, saved at
    once, is what an independent talvo-sim run of that input gives at that
    frame; the stroke flushed before the end is in the window and stays."""
    kills = d.kills()
    if not kills:
        return "skipped: this backend's program cannot be ended with no chance to save"
    # The end comes a moment after the stroke's flush: now and then before
    # the next flush has reached the disk, now and then after.
    rng = random.Random(1209)
    done = []
    for number, how in enumerate(kills):
        k = d.for_kill(how)
        work, name = os.path.join(folder, "kill-%d" % number), "Default.talvo"
        os.mkdir(work)
        try:
            k.start(work)
            k.choose("Speed/Slow")
            shown = draw_stroke(k, 330)
            wait_until("the stroke in the journal", lambda: (lambda r: r and journal.holds(r, 0x202))(
                k.journal_of(work, name)), 60)
            time.sleep(rng.uniform(0, 1.0))
            k.kill(how)
            frame, expected = journal.rebuild_expected(sim_path(), k.journal_of(work, name))
            before = k.scene_bytes(work, name)
            k.restart(work, name)
            wait_until("the note of the rebuild", k.note_shown, 60)
            rebuilt = wait_until("the rebuilt scene saved", lambda: (lambda b: b != before and b)(
                k.scene_bytes(work, name)), 60)
            assert rebuilt == expected, "%s: the rebuilt scene is not the independent run's at frame %d" % (how, frame)
            wait_until("the rebuilt stroke", lambda: shows_cells(k.shot(), shown))
            k.close()
            assert scene_has_cells(os.path.join(work, name), shown), how + ": the rebuilt stroke was not saved"
        finally:
            if k is not d:
                k.stop()
        done.append("%s at frame %d" % (how, frame))
    return "rebuilt after " + ", ".join(done)


TESTS = [(name, fn) for name, fn in globals().items() if name.startswith("test_")]
ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))


def main(make_driver, names, platform_tests=()):
    """Runs the flows above, then any the backend's driver adds for its own
    platform, each as (name, function(driver, folder))."""
    failed = 0
    unknown = set(names) - {name for name, _ in TESTS + list(platform_tests)}
    if unknown:
        print("FAIL no such flows: %s" % ", ".join(sorted(unknown)), flush=True)
        return 1
    for name, test in TESTS + list(platform_tests):
        if names and name not in names:
            continue
        folder = tempfile.mkdtemp(prefix="talvo-desktop-")
        driver = make_driver()
        started = time.monotonic()
        try:
            note = test(driver, folder)
            # A flow the backend cannot show is reported as skipped, not passed.
            word = "skip" if note and note.startswith("skipped") else "ok  "
            print("%s %s (%.1f s)%s" % (word, name, time.monotonic() - started, " # " + note if note else ""),
                  flush=True)
        except Exception:
            failed += 1
            print("FAIL %s (%.1f s)" % (name, time.monotonic() - started), flush=True)
            traceback.print_exc(file=sys.stdout)
            driver.evidence(name)
        finally:
            driver.stop()
            shutil.rmtree(folder, ignore_errors=True)
    return 1 if failed else 0
