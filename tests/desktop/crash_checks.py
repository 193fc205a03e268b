"""However the program ends, a second at most is lost: killed at a random
moment, the next start rebuilds the scene of the last flushed frame, and
that scene is what an independent talvo-sim run of the same input gives at
that frame (not the journal's own replay, which cannot disagree with
itself). The journal itself shows each input flushed within half a second
of play; how many milliseconds of the wall clock a kill loses is a figure
bench/kill_loss.py prints."""
import os
import random
import re
import resource
import shutil
import signal
import subprocess
import tempfile
import threading
import time

import behaviour
import journal
from behaviour import horizontal_stroke, wait_until

SIM_ROUNDS, WINDOW_ROUNDS = 10, 6


def sim(*args, cwd, data_home):
    return subprocess.run([behaviour.sim_path(), *args], cwd=cwd, capture_output=True, text=True, timeout=120,
                          env=dict(os.environ, XDG_DATA_HOME=data_home))


def no_core():
    resource.setrlimit(resource.RLIMIT_CORE, (0, 0))
    for number in (signal.SIGTERM, signal.SIGHUP, signal.SIGINT):
        signal.signal(number, signal.SIG_DFL)


def check_rebuild(work, data_home, script=None):
    """The journal as the kill left it, then a start on the scene: rebuilt
    at the last flushed frame, equal to an independent run to there."""
    kept = journal.folders(data_home)
    assert len(kept) == 1, kept
    frame, expected = journal.rebuild_expected(behaviour.sim_path(), journal.read(kept[0]), script, after=1)
    restart = sim("--frames", "1", "s.talvo", cwd=work, data_home=data_home)
    assert restart.returncode == 0, restart.stderr
    found = re.search(r"rebuilt as it was at .* \(frame (\d+)\)", restart.stderr)
    assert found and int(found.group(1)) == frame, restart.stderr
    with open(os.path.join(work, "s.talvo"), "rb") as f:
        assert f.read() == expected, "the rebuilt scene is not the independent run's at frame %d" % frame
    return frame


def test_talvo_sim_in_real_time_killed_at_any_moment_is_rebuilt_as_it_was(d, folder):
    rng = random.Random(20261208)
    frames = []
    for round_ in range(SIM_ROUNDS):
        work = tempfile.mkdtemp(dir=folder)
        data_home = os.path.join(work, "data")
        # Slow; a stroke every ten frames, each in a row of its own.
        script = "1 command 41\n" + "".join(behaviour.stroke_events(10 * i + 5, 40 + 8 * i, 30, 300)
                                            for i in range(40))
        with open(os.path.join(work, "strokes.txt"), "w") as f:
            f.write(script)
        process = subprocess.Popen([behaviour.sim_path(), "--real-time", "--seed", str(round_), "--frames", "100000",
                                    "--events", "strokes.txt", "s.talvo"], cwd=work, preexec_fn=no_core,
                                   env=dict(os.environ, XDG_DATA_HOME=data_home), stderr=subprocess.DEVNULL)
        # A stroke on disk first: the kill then finds flushes to judge.
        wait_until("a stroke in the journal", lambda: journal.folders(data_home) and
                   journal.holds(journal.read(journal.folders(data_home)[0]), 0x201), 60)
        # The moment of the kill is chosen, not waited for.
        time.sleep(rng.uniform(0, 2.5))
        process.kill()
        process.wait()
        frames.append(check_rebuild(work, data_home, script))
    return "%d rounds, rebuilt at frames %s" % (len(frames), frames)


def test_the_window_killed_in_the_middle_of_strokes_is_rebuilt_as_it_was(d, folder):
    """The GTK window, drawn on as a person draws, killed at a random moment
    while strokes go on, a button often held."""
    rng = random.Random(1208)
    frames = []
    for _ in range(WINDOW_ROUNDS):
        work = tempfile.mkdtemp(dir=folder)
        d.start(work, ["s.talvo"])
        d.choose("Speed/Slow")
        moment = rng.uniform(0.5, 3.0)
        killed = []

        def kill():
            time.sleep(moment)
            killed.append(True)
            d.process.send_signal(signal.SIGKILL)
        killer = threading.Thread(target=kill)
        killer.start()
        y = 20
        while not killed:
            try:
                d.drag(horizontal_stroke(y, 30, 300, 20))
            except subprocess.CalledProcessError:
                break
            y = y + 7 if y < 390 else 20
        killer.join()
        code = d.process.wait(30)
        assert code == -signal.SIGKILL, "ended with %d, not by SIGKILL" % code
        frames.append(check_rebuild(work, d.data_home))
        shutil.rmtree(d.data_home)
        os.mkdir(d.data_home)
    return "%d rounds, rebuilt at frames %s" % (len(frames), frames)


def test_the_wayland_compositor_gone_is_rebuilt_at_the_next_start(d, folder):
    """On Wayland GDK ends the process itself when the compositor goes (no
    program can save then): the next start rebuilds the scene."""
    runtime = tempfile.mkdtemp(prefix="talvo-wayland-")
    data_home = os.path.join(folder, "data")
    env = dict(os.environ, XDG_RUNTIME_DIR=runtime, XDG_DATA_HOME=data_home)
    with open(os.path.join(runtime, "weston.log"), "w") as log:
        weston = subprocess.Popen(["weston", "--backend=headless-backend.so", "--socket=talvo", "--idle-time=0"],
                                  env=env, stdout=log, stderr=log)
    try:
        wait_until("weston", lambda: os.path.exists(os.path.join(runtime, "talvo")), 60)
        talvo = subprocess.Popen([os.path.join(os.path.dirname(behaviour.sim_path()), "talvo"), "s.talvo"], cwd=folder,
                                 env=dict(env, GDK_BACKEND="wayland", WAYLAND_DISPLAY="talvo"), preexec_fn=no_core,
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        # Running: frames flushed after the first.
        wait_until("the journal of a running window",
                   lambda: journal.folders(data_home) and journal.last_flushed(journal.read(journal.folders(data_home)[0]))[0] > 0,
                   60)
        weston.terminate()
        code = talvo.wait(30)
        assert code != 0, "talvo ended as if closed"
    finally:
        behaviour.end_process(weston, 10)
        shutil.rmtree(runtime, ignore_errors=True)
    frame = check_rebuild(folder, data_home)
    return "GDK ended it with status %d; rebuilt at frame %d" % (code, frame)


TESTS = [(name, fn) for name, fn in list(globals().items()) if name.startswith("test_")]
