"""What only the Windows build has to show beside the shared behaviour suite
(tests/desktop/run wine): talvo-sim.exe, Windows' file calls, wide names."""
import os
import shutil
import subprocess

import behaviour
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
