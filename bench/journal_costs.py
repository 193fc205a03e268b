#!/usr/bin/python3
"""What keeping the session journal costs, in real-time talvo-sim runs:
the processor time it adds at Normal speed while drawing, the bytes it
writes a second, the same at "No wait", and how long a start takes to
rebuild the scene after a kill -9 (the longest replay: a minute of play at
Normal, 10000 frames at "No wait"). Not a test: figures to read.
Usage: bench/journal_costs.py [TALVO_SIM] [SECONDS]"""
import os
import re
import resource
import shutil
import signal
import subprocess
import sys
import tempfile
import time

SIM = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build/release/talvo-sim")
SECONDS = float(sys.argv[2]) if len(sys.argv) > 2 else 30.0
SPEEDS = {"Normal": (42, 36), "No wait": (44, 0)}


def strokes(speed, frames):
    """A stroke every 25 frames, a move every frame of it, across the field."""
    lines = ["1 command %d" % speed]
    for start in range(5, frames, 25):
        y = 20 + (start // 25 * 7) % 370
        lines.append("%d lbuttondown 20 %d" % (start, y))
        lines += ["%d mousemove %d %d" % (start + i, 20 + 15 * i, y) for i in range(1, 20)]
        lines.append("%d lbuttonup 300 %d" % (start + 20, y))
    return "\n".join(lines) + "\n"


def run(folder, speed, journal, seconds, kill=None):
    """One run in real time; (processor seconds, wall seconds, bench line)."""
    code, frame_ms = SPEEDS[speed]
    frames = int(seconds * 1000 / frame_ms) if frame_ms else 10 ** 8
    with open(os.path.join(folder, "strokes.txt"), "w") as f:
        f.write(strokes(code, min(frames, 400000)))
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    started = time.monotonic()
    args = [SIM, "--real-time", "--bench", "--seed", "1", "--frames", str(frames), "--events", "strokes.txt", "s.talvo"]
    process = subprocess.Popen(args + ([] if journal else ["--no-journal"]), cwd=folder, stdout=subprocess.PIPE,
                               stderr=subprocess.DEVNULL, text=True, env=dict(os.environ, XDG_DATA_HOME=folder + "/data"))
    try:
        out, _ = process.communicate(timeout=seconds + 5 if frame_ms else seconds)
    except subprocess.TimeoutExpired:
        process.send_signal(kill or signal.SIGTERM)
        out, _ = process.communicate()
    wall = time.monotonic() - started
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = after.ru_utime + after.ru_stime - before.ru_utime - before.ru_stime
    return cpu, wall, out


def field(line, name):
    found = re.search(name + r"=([0-9.]+)", line or "")
    return float(found.group(1)) if found else 0.0


def rebuild(speed, seconds):
    """Kills a run after `seconds` and times the start that rebuilds it."""
    folder = tempfile.mkdtemp(prefix="talvo-rebuild-")
    try:
        run(folder, speed, True, seconds, kill=signal.SIGKILL)
        started = time.monotonic()
        start = subprocess.run([SIM, "--frames", "1", "s.talvo"], cwd=folder, capture_output=True, text=True,
                               env=dict(os.environ, XDG_DATA_HOME=folder + "/data"))
        took = time.monotonic() - started
        frame = re.search(r"\(frame (\d+)\)", start.stderr)
        return took, int(frame.group(1)) if frame else -1
    finally:
        shutil.rmtree(folder)


def main():
    for speed in SPEEDS:
        results = {}
        for journal in (False, True):
            folder = tempfile.mkdtemp(prefix="talvo-costs-")
            try:
                results[journal] = run(folder, speed, journal, SECONDS)
            finally:
                shutil.rmtree(folder)
        (cpu0, wall0, _), (cpu1, wall1, line) = results[False], results[True]
        # At "No wait" the bytes go with the frames: a checkpoint every 10000
        # and the script's moves, so the frame rate is printed with them.
        frames = field(line, "frames")
        print("%s, drawing, %.0f s: processor %.2f%% of a core without the journal, %.2f%% with it "
              "(%+.2f points); journal %.1f KB/s in %d files, at %.0f frames a second (%.1f bytes a frame)" %
              (speed, wall1, 100 * cpu0 / wall0, 100 * cpu1 / wall1, 100 * (cpu1 / wall1 - cpu0 / wall0),
               field(line, "journal_bytes") / 1000 / wall1, field(line, "journal_files"), frames / wall1,
               field(line, "journal_bytes") / max(frames, 1)))
    took, frame = rebuild("Normal", 65)
    print("Normal: a start rebuilds 65 s of play (frame %d) in %.2f s" % (frame, took))
    took, frame = rebuild("No wait", 5)
    print("No wait: a start rebuilds 5 s of play (frame %d) in %.2f s" % (frame, took))


if __name__ == "__main__":
    main()
