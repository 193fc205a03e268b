"""What only the Windows build has to show beside the shared behaviour suite
(tests/desktop/run wine): talvo-sim.exe, Windows' file calls, wide names."""
import os
import shutil
import subprocess

import behaviour
import library_checks
from behaviour import ROOT, wait_until

SIM_EXE = os.environ.get("TALVO_SIM_EXE", os.path.join(ROOT, "build/win32/talvo-sim.exe"))


def scripted_session(seed):
    """Strokes, erasing, menu commands (a stand-still among them) and, for
    some seeds, Clear: talvo-sim's scripted input."""
    lines = ["5 lbuttondown 40 %d" % (150 + seed % 50)]
    lines += ["6 mousemove %d %d" % (40 + 20 * i, 150 + seed % 50 + 3 * i) for i in range(1, 12)]
    lines += ["7 lbuttonup 260 200",
              "20 command 22", "22 lbuttondown 30 320", "23 mousemove 170 330", "23 mousemove 310 320",
              "24 lbuttonup 310 320",
              "40 command %d" % (50 + seed % 5), "40 command %d" % (60 + (seed // 5) % 5),
              "60 rbuttondown 100 %d" % (150 + seed % 50), "61 mousemove 160 200", "62 rbuttonup 160 200",
              "70 command 30", "80 command 40", "85 lbuttondown 10 100", "86 mousemove 40 130", "86 lbuttonup 40 130",
              "90 command 43", "100 command 10", "101 lbuttondown 200 100", "102 mousemove 220 120",
              "102 lbuttonup 220 120", "110 command 10"]
    if seed % 2:
        lines += ["130 command 7", "135 command 41"]
    # Undo and redo: back past the Clear or the last strokes, and forward.
    lines += ["140 char 26", "141 char 26", "142 char 25", "150 char 26"]
    return "\n".join(lines) + "\n"


def test_talvo_sim_exe_writes_what_native_talvo_sim_writes(d, folder):
    """talvo-sim.exe under Wine and the native talvo-sim, given the same seed
    and input, write the same scene file byte for byte, and at the last seed
    the same picture and animation; from the second seed on each loads the
    scene it saved before and saves over it."""
    for seed in (1, 7, 40):
        with open(os.path.join(folder, "events.txt"), "w") as f:
            f.write(scripted_session(seed))
        args = ["--frames", "200", "--seed", str(seed), "--events", "events.txt"]
        png = seed == 40
        pictures = lambda name: ["--png", name + ".png", "--gif", name + ".gif", "--gif-every", "3"] if png else []
        subprocess.run([behaviour.sim_path(), *args, *pictures("native"), "native.talvo"],
                       cwd=folder, check=True, capture_output=True)
        wine = subprocess.run(["wine", SIM_EXE, *args, *pictures("wine"), "wine.talvo"],
                              cwd=folder, env=d.s.env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=300)
        assert wine.returncode == 0, wine.stdout.decode(errors="replace")
        native = behaviour.Scene(os.path.join(folder, "native.talvo"))
        windows = behaviour.Scene(os.path.join(folder, "wine.talvo"))
        assert native.data == windows.data, "seed %d: the scene files differ" % seed
    for ending in ("png", "gif"):
        with open(os.path.join(folder, "native." + ending), "rb") as a, \
                open(os.path.join(folder, "wine." + ending), "rb") as b:
            assert a.read() == b.read(), "talvo-sim.exe wrote another %s than the native build" % ending


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





def journal_segments(d):
    """How many journal segments the programs of the prefix have written."""
    count = 0
    for top, _, files in os.walk(os.path.join(d.s.prefix, "drive_c", "users")):
        if os.sep + "journal" + os.sep in top + os.sep:
            count += sum(1 for f in files if f.endswith(".seg"))
    return count


def test_a_program_killed_is_rebuilt_at_the_next_start(d, folder):
    """Killed from outside, talvo.exe saves nothing: the next start rebuilds
    the scene, with its stroke, and says so. (Wine's taskkill finds no
    process of a 32-bit program run under qemu; a SIGKILL ends it as
    abruptly, without a message to the program.)"""
    d.start(folder, ["s.talvo"])
    d.choose("Speed/Slow")
    shown = behaviour.draw_stroke(d, 330)
    # Two flushes after the stroke: it is in the journal.
    after = journal_segments(d)
    wait_until("the journal flushed twice", lambda: journal_segments(d) >= after + 2, 60)
    d.process.kill()
    assert d.process.wait(60) != 0, "talvo.exe ended as if closed"
    d.start(folder, ["s.talvo"])
    wait_until("the note of the rebuild", d.note_shown, 60)
    wait_until("the rebuilt stroke", lambda: behaviour.shows_cells(d.shot(), shown))
    d.close()
    assert behaviour.scene_has_cells(os.path.join(folder, "s.talvo"), shown), "the rebuilt stroke was not saved"


TESTS = [(name, fn) for name, fn in list(globals().items()) if name.startswith("test_")] + library_checks.TESTS
