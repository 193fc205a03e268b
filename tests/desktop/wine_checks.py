"""What only the Windows build has to show beside the shared behaviour suite
(tests/desktop/run wine): talvo-sim.exe, Windows' file calls, wide names."""
import os
import shutil
import subprocess

import behaviour
import journal
import library_checks
import saves_checks
from behaviour import ROOT, wait_until

SIM_EXE = os.environ.get("TALVO_SIM_EXE", os.path.join(ROOT, "build/win32/talvo-sim.exe"))


def sim_exe(d, folder, *args):
    return subprocess.run(["wine", SIM_EXE, "--frames", "20", *args], cwd=folder, env=d.s.env,
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=300)


def rescued(d):
    found = []
    for top, _, files in os.walk(os.path.join(d.s.prefix, "drive_c", "users")):
        found += [os.path.join(top, f) for f in files if f.startswith("rescued-") and f.endswith(".talvo")]
    return found


def test_saves_on_windows_file_system_keep_what_they_cannot_replace(d, folder):
    """talvo-sim.exe through Windows' own file calls: a hard-linked scene is
    saved in place, a damaged one kept aside; a folder or a read-only file
    named as the scene is left as it is, the failure told and the scene
    rescued to the local application data folder."""
    subprocess.run([behaviour.sim_path(), "--frames", "5", "old.talvo"], cwd=folder, check=True, capture_output=True)
    old = open(os.path.join(folder, "old.talvo"), "rb").read()

    shutil.copy(os.path.join(folder, "old.talvo"), os.path.join(folder, "hard.talvo"))
    os.link(os.path.join(folder, "hard.talvo"), os.path.join(folder, "other.talvo"))
    run = sim_exe(d, folder, "hard.talvo")
    assert run.returncode == 0, run.stdout
    assert os.path.samefile(os.path.join(folder, "hard.talvo"), os.path.join(folder, "other.talvo")), "link split"
    assert open(os.path.join(folder, "other.talvo"), "rb").read() != old, "hard link not saved"

    with open(os.path.join(folder, "cut.talvo"), "wb") as f:
        f.write(old[:-1])
    run = sim_exe(d, folder, "cut.talvo")
    assert run.returncode == 0, run.stdout
    assert open(os.path.join(folder, "cut.talvo.damaged"), "rb").read() == old[:-1], "damaged scene not kept"
    behaviour.Scene(os.path.join(folder, "cut.talvo"))

    os.mkdir(os.path.join(folder, "folder.talvo"))
    shutil.copy(os.path.join(folder, "old.talvo"), os.path.join(folder, "locked.talvo"))
    os.chmod(os.path.join(folder, "locked.talvo"), 0o444)
    for name in ("folder.talvo", "locked.talvo"):
        before = len(rescued(d))
        run = sim_exe(d, folder, name)
        assert run.returncode == 1 and b"Talvo:" in run.stdout, (name, run.returncode, run.stdout)
        assert len(rescued(d)) == before + 1, name + ": no scene rescued"
    assert os.path.isdir(os.path.join(folder, "folder.talvo"))
    assert open(os.path.join(folder, "locked.talvo"), "rb").read() == old, "read-only scene replaced"
    assert not [f for f in os.listdir(folder) if f.startswith("~talvo")], "side file left behind"


def test_names_outside_the_code_page_reach_their_files(d, folder):
    """A scene named on the command line and one dropped, both with names
    Windows' ANSI calls would turn into question marks, load and are saved
    to under their own names."""
    named = behaviour.make_scene(folder, "Sände 場面.talvo", behaviour.stroke_events(2, 300, 60, 219))
    dropped = behaviour.make_scene(folder, "Ωmega.talvo", behaviour.stroke_events(2, 200, 40, 280))
    d.start(folder, [os.path.basename(named)])
    wait_until("the named scene's wall", lambda: behaviour.stroke_is_wall(d.shot(), 300, 60, 219))
    d.drop(dropped)
    wait_until("the dropped scene's wall", lambda: behaviour.stroke_is_wall(d.shot(), 200, 40, 280))
    shown = behaviour.draw_stroke(d, 330)
    d.close()
    assert behaviour.scene_has_cells(dropped, shown), "closing did not save to the dropped file"
    assert sorted(os.listdir(folder)) == ["Sände 場面.talvo", "Ωmega.talvo"], os.listdir(folder)


def layouts(d, what):
    """The program's records of the layout of its window `what` (note,
    about) under TALVO_TEST_LAYOUT=1, the last one shown: its DPI, client
    size and controls as (class, x, y, w, h, needed w, needed h, one line's
    width)."""
    def recorded():
        d.log.seek(0)
        found = [line.split() for line in d.log.read().decode(errors="replace").splitlines()
                 if line.startswith("layout %s " % what)]
        return found if any(words[2].startswith("dpi=") for words in found) else None

    # The records reach the log a moment after the window shows.
    lines = wait_until("the layout of the %s recorded" % what, recorded, 30)
    starts = [i for i, words in enumerate(lines) if words[2].startswith("dpi=")]
    head = dict(w.split("=") for w in lines[starts[-1]][2:])
    controls = []
    for words in lines[starts[-1] + 1:]:
        fields = dict(w.split("=") for w in words[2:])
        controls.append((fields["child"],) + tuple(int(v) for v in fields["rect"].split(",")) +
                        tuple(int(v) for v in fields["need"].split(",")) + (int(fields["line"]),))
    return int(head["dpi"]), tuple(int(v) for v in head["client"].split(",")), controls


def assert_nothing_cut_off(what, client, controls):
    for kind, x, y, w, h, need_w, need_h, line in controls:
        assert x >= 0 and y >= 0 and x + w <= client[0] and y + h <= client[1], \
            "%s: a %s at %s leaves the client area %s" % (what, kind, (x, y, w, h), client)
        if kind == "Static":
            assert need_h <= h and need_w <= w, "%s: the text needs %dx%d, its control is %dx%d" % (
                what, need_w, need_h, w, h)


def test_at_192_dpi_the_window_is_2x_and_the_note_and_about_are_whole(d, folder):
    """With Windows' scale at 200 % (LogPixels 192), the field is 2x, crisp,
    and the note of a rebuilt scene and About are laid out for that DPI:
    every text whole in its control, the note's OK below its text, each
    inside its window, About no larger than twice its 96-DPI self."""
    env = d.s.env
    d.s.env = dict(env, TALVO_TEST_LAYOUT="1")
    try:
        d.start(folder)
        d.choose("About talvo")
        wait_until("the About dialog", d.about_is_open)
        _, about96, _ = layouts(d, "about")
        d.about_ok()
        wait_until("the About dialog to go", lambda: not d.about_is_open())
        d.close()
        subprocess.run(["wine", "reg", "add", r"HKCU\Control Panel\Desktop", "/v", "LogPixels", "/t", "REG_DWORD",
                        "/d", "192", "/f"], env=env, check=True, capture_output=True, timeout=120)
        d.start(folder)
        assert d.field_size() == (behaviour.WIDTH * 2, behaviour.HEIGHT * 2), d.field_size()
        d.choose("Speed/Slow")
        shown = behaviour.draw_stroke(d, 330)
        wait_until("the stroke in the journal", lambda: (lambda r: r and journal.holds(r, 0x202))(
            d.journal_of(folder, "Default.talvo")), 60)
        d.kill("SIGKILL")
        d.restart(folder, "Default.talvo")
        wait_until("the note of the rebuild", d.note_shown, 60)
        dpi, client, controls = layouts(d, "note")
        assert dpi == 192, dpi
        assert_nothing_cut_off("the note", client, controls)
        text = next(c for c in controls if c[0] == "Static")
        ok = next(c for c in controls if c[0] == "Button")
        assert ok[2] >= text[2] + text[4], "the note's OK at %s is over its text at %s" % (ok[1:5], text[1:5])
        assert behaviour.uneven_block(d.field_pixels(), 2) is None, "the field at 200 % is not sharp"
        wait_until("the rebuilt stroke", lambda: behaviour.shows_cells(d.shot(), shown))
        d.choose("About talvo")
        wait_until("the About dialog", d.about_is_open)
        dpi, about, controls = layouts(d, "about")
        assert dpi == 192, dpi
        assert_nothing_cut_off("About", about, controls)
        assert about[0] <= 2 * about96[0] and about[1] <= 2 * about96[1], \
            "About at 192 DPI is %s, at 96 DPI %s" % (about, about96)
        d.about_ok()
        wait_until("the About dialog to go", lambda: not d.about_is_open())
        d.close()
    finally:
        d.s.env = env
        subprocess.run(["wine", "reg", "add", r"HKCU\Control Panel\Desktop", "/v", "LogPixels", "/t", "REG_DWORD",
                        "/d", "96", "/f"], env=env, check=False, capture_output=True, timeout=120)


def test_about_and_the_note_are_whole_in_every_language(d, folder):
    """In each language of the catalogues, chosen by LANG, About and the
    note of a rebuilt scene are laid out for their texts: every text whole
    in its control and inside the window, the note's OK below its text.
    TALVO_SHOTS=FOLDER keeps a picture of each."""
    shots = os.environ.get("TALVO_SHOTS")
    for language in ("de", "fr", "es", "ja", "zh_CN"):
        d.speak(language)
        scene = language + ".talvo"
        behaviour.make_scene(folder, scene, "1 command 41\n")
        d.start(folder, [scene])
        # At 2x, as the pictures show it; remembered from the first start on.
        if d.field_size() == (behaviour.WIDTH, behaviour.HEIGHT):
            d.zoom_key("ctrl+plus")
        wait_until("the field at 2x", lambda: d.field_size() == (behaviour.WIDTH * 2, behaviour.HEIGHT * 2))
        d.choose("About talvo")
        wait_until("the About dialog", d.about_is_open)
        _, client, controls = layouts(d, "about")
        assert_nothing_cut_off("About in " + language, client, controls)
        # Nor is any text under the icon or another text.
        shown = [c for c in controls if c[0] in ("Static", "Icon")]
        for i, a in enumerate(shown):
            for b in shown[:i]:
                apart = a[1] >= b[1] + b[3] or b[1] >= a[1] + a[3] or a[2] >= b[2] + b[4] or b[2] >= a[2] + a[4]
                assert apart, "About in %s: a %s at %s overlaps a %s at %s" % (language, a[0], a[1:5], b[0], b[1:5])
        if shots:
            d.d.save_png(os.path.join(shots, "lang-%s-wine-about.png" % language))
        d.about_ok()
        wait_until("the About dialog to go", lambda: not d.about_is_open())
        behaviour.draw_stroke(d, 330)
        wait_until("the stroke in the journal", lambda: (lambda r: r and journal.holds(r, 0x202))(
            d.journal_of(folder, scene)), 60)
        d.kill("SIGKILL")
        d.restart(folder, scene)
        wait_until("the note of the rebuild", d.note_shown, 60)
        _, client, controls = layouts(d, "note")
        assert_nothing_cut_off("the note in " + language, client, controls)
        text = next(c for c in controls if c[0] == "Static")
        ok = next(c for c in controls if c[0] == "Button")
        assert ok[2] >= text[2] + text[4], "%s: the note's OK at %s is over its text at %s" % (
            language, ok[1:5], text[1:5])
        if shots:
            d.d.save_png(os.path.join(shots, "lang-%s-wine-note.png" % language))
        d.close()


def test_slash_question_mark_is_help_and_without_a_console_a_box_answers(d, folder):
    """/? is --help, as Windows programs take it. Started with no standard
    output or error (as from a shortcut), the answer is a message box, and
    the status once it is dismissed is the same as on the command line."""
    assert d.answer(folder, ["/?"]) == d.answer(folder, ["--help"])
    for args, status in ((["--version"], 0), (["--bogus"], 2)):
        assert d.answered_in_a_box(folder, args) == status, args
    assert not os.listdir(folder), os.listdir(folder)


TESTS = [(name, fn) for name, fn in list(globals().items()) if name.startswith("test_")] + library_checks.TESTS + \
    saves_checks.TESTS
