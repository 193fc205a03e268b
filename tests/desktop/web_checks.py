"""What only the web build has to show, beside the shared behaviour suite:
talvo-sim.js under Node writes what the native talvo-sim writes; the page's
Download gives the very bytes the native program saves for the same state;
a reload brings the scene and its marks back (drawn by touch), and hiding
the page saves without ending the program; a scene that cannot be saved
(it is rescued and kept) or that the browser will not keep is told on the
page; the menu works from the keyboard.

Run: tests/desktop/run web [TEST...]
"""
import base64
import os
import shutil
import subprocess
import tempfile

import behaviour
import web_driver
from behaviour import (horizontal_stroke, make_scene, marks_of, moving, settled, sim_path, stroke_events,
                       stroke_is_wall, wait_until)

SIM_JS = os.path.join(web_driver.PAGE, "talvo-sim.js")


def run_sim(command, folder, *args):
    return subprocess.run(command + list(args), cwd=folder, capture_output=True, text=True)


def side_files(folder):
    """A start-up script and a background image that leave their mark on a
    new scene: a wall colour, shapes, and shades with colours of their own."""
    with open(os.path.join(folder, "init.txt"), "w") as f:
        f.write("WALLCOLOR 90 60 200\nPENWIDTH 3\nFILLBOX 120 250 180 280 1\nLINE 20 330 300 360 1\n")
    with open(os.path.join(folder, "bg.raw"), "wb") as f:
        f.write(bytes((x // 11 + y // 13) % 32 for y in range(402) for x in range(336)))
    with open(os.path.join(folder, "bg.pal"), "w") as f:
        f.write("JASC-PAL\n0100\n32\n" + "".join("%d %d %d\n" % (8 * s, 255 - 8 * s, 40) for s in range(32)))
    return [os.path.join(folder, name) for name in ("init.txt", "bg.raw", "bg.pal")]


def download(d, folder, name):
    """Chooses "Download scene"; the path of the file the browser saved."""
    downloads = os.path.join(folder, "downloads")
    d.tools.call("Browser.setDownloadBehavior", behavior="allow", downloadPath=downloads,
                 browserContextId=d.context, eventsEnabled=True)
    d.choose("Download scene")
    done = d.tools.wait_event("Browser.downloadProgress", lambda p: p["state"] != "inProgress")
    assert done["state"] == "completed", done
    return os.path.join(downloads, name)


def test_talvo_sim_js_writes_what_the_native_build_writes(d, folder):
    events = (stroke_events(5, 300, 30, 300) + "9 rbuttondown 100 300\n10 mousemove 140 300\n11 rbuttonup 140 300\n"
              "20 command 22\n20 command 30\n20 command 52\n20 command 64\n20 command 41\n"
              + stroke_events(25, 250, 60, 200) + "60 command 7\n70 command 10\n" + stroke_events(75, 200, 10, 320))
    with open(os.path.join(folder, "events.txt"), "w") as f:
        f.write(events)
    outputs = []
    for name, command in (("native", [sim_path()]), ("node", ["node", SIM_JS])):
        os.mkdir(os.path.join(folder, name))
        result = run_sim(command, os.path.join(folder, name), "--seed", "11", "--frames", "300",
                         "--events", "../events.txt", "--menu", "scene.talvo")
        assert result.returncode == 0, (name, result.stderr)
        with open(os.path.join(folder, name, "scene.talvo"), "rb") as f:
            outputs.append((f.read(), result.stdout))
    assert outputs[0][0] == outputs[1][0], "talvo-sim.js wrote other scene bytes than the native build"
    assert outputs[0][1] == outputs[1][1], "talvo-sim.js printed another menu:\n" + outputs[1][1]
    refused = run_sim(["node", SIM_JS], folder, "--png", "x.png", "scene.talvo")
    assert refused.returncode == 2 and "--png is not available" in refused.stderr, refused.stderr
    assert not os.path.exists(os.path.join(folder, "scene.talvo"))


def test_download_is_the_scene_the_native_program_saves(d, folder):
    """At Stop nothing moves, so the state is the same wherever the same
    input reaches it: an opened scene, dropped side files, menu choices,
    Clear (which reads the side files), strokes (one leaving the field) and
    an erasure."""
    source = tempfile.mkdtemp(prefix="talvo-source-")
    try:
        start = make_scene(source, "start.talvo", stroke_events(2, 150, 20, 320) + "8 command 40\n")
        files = side_files(source)
        strokes = [(horizontal_stroke(320, 40, 290), "left"), (horizontal_stroke(321, 100, 160, 4), "right"),
                   # Beyond the right edge and left of the field: captured moves count.
                   ([(30, 100), (60, 110), (200, 120), (330, 140), (390, 150), (250, 170), (-10, 180), (40, 190)],
                    "left")]
        commands = ["Pen/Thick", "Eraser/Small", "Kind of sand1/Dusty sand", "Kind of sand2/Magical sand", "Clear"]

        d.start(folder)
        d.drop_files(files)
        wait_until("the side files to be kept", lambda: "bg.pal is kept" in d.js("document.body.innerText"))
        d.call("Page.setInterceptFileChooserDialog", enabled=True)
        d.choose("Open scene…")
        chooser = d.tools.wait_event("Page.fileChooserOpened")
        d.call("DOM.setFileInputFiles", files=[start], backendNodeId=chooser["backendNodeId"])
        wait_until("the opened scene at Stop", lambda: marks_of(d.menu()).get("Speed/Stop"))
        for path in commands:
            d.choose(path)
        for points, button in strokes:
            d.drag(points, button)
        with open(download(d, folder, "start.talvo"), "rb") as f:
            downloaded = f.read()
        d.close()

        ids = {"Pen/Thick": 22, "Eraser/Small": 30, "Kind of sand1/Dusty sand": 52,
               "Kind of sand2/Magical sand": 64, "Clear": 7}
        events = "".join("2 command %d\n" % ids[path] for path in commands)
        for frame, (points, button) in enumerate(strokes, start=3):
            b = "l" if button == "left" else "r"
            events += "%d %sbuttondown %d %d\n" % (frame, b, *points[0])
            events += "".join("%d mousemove %d %d\n" % (frame, x, y) for x, y in points[1:])
            events += "%d %sbuttonup %d %d\n" % (frame, b, *points[-1])
        with open(os.path.join(source, "events.txt"), "w") as f:
            f.write(events)
        result = run_sim([sim_path()], source, "--frames", "20", "--events", "events.txt", "start.talvo")
        assert result.returncode == 0, result.stderr
        with open(start, "rb") as f:
            native = f.read()
        assert downloaded[12:13] == b"B", "the dropped background image did not shape the new scene"
        assert downloaded == native, "the download differs from the native scene (%d and %d bytes)" % (
            len(downloaded), len(native))
    finally:
        shutil.rmtree(source)


def touch_stroke(d, points):
    spots = [d.field_point(x, y) for x, y in points]
    d.call("Input.dispatchTouchEvent", type="touchStart", touchPoints=[{"x": spots[0][0], "y": spots[0][1]}])
    for x, y in spots[1:]:
        d.call("Input.dispatchTouchEvent", type="touchMove", touchPoints=[{"x": x, "y": y}])
    d.call("Input.dispatchTouchEvent", type="touchEnd", touchPoints=[])
    d.wait_idle()


def test_reload_brings_back_the_scene_and_marks_and_hiding_saves_without_ending(d, folder):
    d.start(folder)
    d.choose("Speed/Normal")
    touch_stroke(d, horizontal_stroke(300, 60, 219))
    wait_until("a wall along the stroke", lambda: stroke_is_wall(d.shot(), 300, 60, 219))
    for path in ("Pen/Thick", "Kind of sand2/Heavy sand"):
        d.choose(path)
    # Another tab in front hides the page.
    other = d.tools.call("Target.createTarget", url="about:blank", browserContextId=d.context)["targetId"]
    wait_until("the page to be hidden", lambda: d.js("document.visibilityState") == "hidden")
    files, current = d._storage()
    assert current == "Default.talvo" and current in files, "the hidden page kept no scene: %r %s" % (current, sorted(files))
    saved = files[current]
    assert (saved[15] & 15, int.from_bytes(saved[24:26], "little")) == (2, 1), "the hidden page kept old settings"
    presents = d.js("_WebPresentCount()")
    wait_until("the program to go on while hidden", lambda: d.js("_WebPresentCount()") > presents + 2)
    d.tools.call("Target.closeTarget", targetId=other)
    wait_until("the page to show again", lambda: d.js("document.visibilityState") == "visible")
    moving(d)

    d.call("Page.reload")
    wait_until("the program after the reload",
               lambda: d.js("typeof Module == 'object' && Module.calledRun && _WebPresentCount() > 0"))
    wait_until("the wall after the reload", lambda: stroke_is_wall(d.shot(), 300, 60, 219))
    marks = marks_of(d.menu())
    for label in ("Pen/Thick", "Kind of sand2/Heavy sand", "Speed/Normal"):
        assert marks.get(label), (label, marks)
    assert not marks.get("Pen/Normal"), marks
    d.close()


def test_what_cannot_be_saved_or_kept_is_told_on_the_page(d, folder):
    with open(os.path.join(folder, "notes.txt"), "w") as f:
        f.write("not a scene\n")
    d.start(folder, ["notes.txt"])
    alert = "document.querySelector('[role=alert]')"
    downloads = os.path.join(folder, "downloads")
    d.tools.call("Browser.setDownloadBehavior", behavior="allow", downloadPath=downloads,
                 browserContextId=d.context, eventsEnabled=True)
    d.choose("Download scene")
    told = wait_until("the message that the scene was not saved", lambda: d.js(alert + ".textContent"))
    assert 'could not be saved to "notes.txt": it is not a scene file' in told, told
    assert d.js(alert + ".offsetParent !== null"), "the message is not shown"
    assert not d.tools.take_events("Browser.downloadWillBegin"), "a file that is no scene was offered for download"
    files, _ = d._storage()
    rescued = [name for name in files if name.startswith("rescued/")]
    assert len(rescued) == 1 and rescued[0] in told and files[rescued[0]][:5] == b"TALVO", (sorted(files), told)
    assert files["notes.txt"] == b"not a scene\n"

    # A site whose quota is used up before the page first opens its store:
    # the browser refuses to keep the scene.
    d.stop()
    d.context = d.tools.call("Target.createBrowserContext")["browserContextId"]
    d._open(web_driver.BLANK)
    d.call("Storage.overrideQuotaForOrigin", origin=d.browser.origin, quotaSize=1)
    d._show([])
    other = d.tools.call("Target.createTarget", url="about:blank", browserContextId=d.context)["targetId"]
    wait_until("the message that the scene was not kept",
               lambda: "This browser would not keep" in d.js(alert + ".textContent"))
    d.tools.call("Target.closeTarget", targetId=other)
    d.stop()


def test_kept_scenes_go_back_with_their_edits_and_download(d, folder):
    source = tempfile.mkdtemp(prefix="talvo-source-")
    try:
        a, b = behaviour.two_scenes(source)
        d.start(folder)
        shown = behaviour.draw_on_a_then_open_b(d, a, b)
        d.choose("Kept scenes/a.talvo")
        wait_until("scene a with its stroke", lambda: (lambda p: stroke_is_wall(p, 200, 40, 280) and
                                                        behaviour.shows_cells(p, shown))(d.shot()))
        path = download(d, folder, "a.talvo")
        assert behaviour.scene_has_cells(path, shown) and behaviour.scene_has_wall(path, 200, 40, 280)
        d.close()
    finally:
        shutil.rmtree(source)


def test_one_tab_plays_and_another_takes_over_with_its_scene(d, folder):
    """A second tab does not run a second Talvo on the same folder: it says
    so, and "Play here instead" has the first save, end and hand over."""
    d.start(folder)
    d.choose("Speed/Normal")
    d.drag(horizontal_stroke(300, 60, 219))
    wait_until("the wall in the first tab", lambda: stroke_is_wall(d.shot(), 300, 60, 219))
    first = d.session
    d._open("/index.html")
    wait_until("the second tab to say Talvo is open in another", lambda: d.js("!document.getElementById('elsewhere').hidden"))
    assert not d.js("Module.calledRun === true"), "a second Talvo runs on the same folder"
    d.click_element("#play-here", "Play here instead")
    wait_until("Talvo in the second tab", lambda: d.js("Module.calledRun === true && _WebPresentCount() > 0"))
    wait_until("the first tab's wall in the second", lambda: stroke_is_wall(d.shot(), 300, 60, 219))
    assert d.js("document.getElementById('elsewhere').hidden")
    told = d.tools.call("Runtime.evaluate", session=first, returnByValue=True,
                        expression="document.getElementById('status').textContent")["result"]["value"]
    assert "plays in another tab" in told, told
    d.drag(horizontal_stroke(330, 60, 219))
    wait_until("the second tab's wall", lambda: stroke_is_wall(d.shot(), 330, 60, 219))
    d.close()
    saved = os.path.join(folder, "Default.talvo")
    assert behaviour.scene_has_wall(saved, 300, 60, 219) and behaviour.scene_has_wall(saved, 330, 60, 219)


def test_what_an_earlier_visit_left_outside_the_store_comes_back(d, folder):
    """A folder kept in localStorage by an earlier version moves over; what a
    page wrote as it went, and IndexedDB missed, comes back from its journal."""
    source = tempfile.mkdtemp(prefix="talvo-source-")
    try:
        scenes = {}
        for name, y in (("old.talvo", 200), ("late.talvo", 120)):
            with open(make_scene(source, name, stroke_events(2, y, 40, 280)), "rb") as f:
                scenes[name] = base64.b64encode(f.read()).decode()
    finally:
        shutil.rmtree(source)
    d.stop()
    d.folder = folder
    d.context = d.tools.call("Target.createBrowserContext")["browserContextId"]
    d._open(web_driver.BLANK)
    d.js("localStorage.setItem('talvo:file:old.talvo', '%s'); localStorage.setItem('talvo:current', 'old.talvo')"
         % scenes["old.talvo"])
    d._show([])
    wait_until("the scene kept by the earlier version", lambda: stroke_is_wall(d.shot(), 200, 40, 280))
    assert d.js("localStorage.length") == 0, "the old copy stayed"
    d.close()
    assert behaviour.scene_has_wall(os.path.join(folder, "old.talvo"), 200, 40, 280)

    d._open(web_driver.BLANK)
    d.js("localStorage.setItem('talvo:journal', JSON.stringify({files: {'old.talvo': '%s'}, gone: [], "
         "current: 'old.talvo'}))" % scenes["late.talvo"])
    d._show([])
    wait_until("the scene the journal kept", lambda: stroke_is_wall(d.shot(), 120, 40, 280))
    wait_until("the journal taken into the store", lambda: d.js("localStorage.getItem('talvo:journal') === null"))
    d.close()
    assert behaviour.scene_has_wall(os.path.join(folder, "old.talvo"), 120, 40, 280)


def press(d, key, code=None, keycode=0, text=None):
    params = {"key": key, "code": code or key, "windowsVirtualKeyCode": keycode}
    d.call("Input.dispatchKeyEvent", type="keyDown", text=text, **params) if text else \
        d.call("Input.dispatchKeyEvent", type="rawKeyDown", **params)
    d.call("Input.dispatchKeyEvent", type="keyUp", **params)


def focused(d):
    return d.js("document.activeElement.textContent")


def test_the_menu_works_from_the_keyboard(d, folder):
    d.start(folder)
    moving(d)
    press(d, "Tab", keycode=9)
    assert d.js("document.activeElement.id") == "menu-button", "Tab goes first to the menu button"
    press(d, "Enter", keycode=13, text="\r")
    wait_until("the menu open on its first item", lambda: focused(d) == "Open scene…")
    assert d.js("document.getElementById('menu-button').getAttribute('aria-expanded')") == "true"
    press(d, "End", keycode=35)
    press(d, "ArrowUp", keycode=38)
    assert focused(d) == "Speed", focused(d)
    press(d, "ArrowRight", keycode=39)
    assert focused(d) == "Stop", focused(d)
    press(d, "Escape", keycode=27)
    assert focused(d) == "Speed", "Escape in a popup goes back to its item"
    press(d, "ArrowRight", keycode=39)
    press(d, " ", code="Space", keycode=32, text=" ")
    d.wait_idle()
    assert d.js("document.activeElement.id") == "menu-button", "choosing closes the menu"
    assert marks_of(d.menu()).get("Speed/Stop")
    settled(d)

    press(d, "ArrowUp", keycode=38)
    wait_until("the menu open on its last item", lambda: focused(d) == "About talvo")
    press(d, "Enter", keycode=13, text="\r")
    wait_until("the About dialog", d.about_is_open)
    press(d, "Escape", keycode=27)
    d.wait_idle()
    assert d.about_is_open(), "Escape must not end the About dialog"
    press(d, "Enter", keycode=13, text="\r")
    wait_until("the About dialog to go", lambda: not d.about_is_open())
    d.close()


# Checks any engine makes; the others reach into Chromium's own protocol
# (quotas, downloads, file choosers, touch, installability, profiles).
EVERY_ENGINE = {"test_paints_at_the_display_pace_at_every_speed_and_input_comes_within_a_frame",
                "test_what_is_not_a_scene_is_refused_and_kept_scenes_are_removed"}
TESTS = [(name, fn) for name, fn in list(globals().items())
         if name.startswith("test_") and (web_driver.ENGINE == "chromium" or name in EVERY_ENGINE)]
