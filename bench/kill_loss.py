#!/usr/bin/python3
"""How much of the wall clock a kill loses: talvo-sim in real time, drawing
a stroke every ten frames at "Slow", killed (SIGKILL) at a random moment;
the loss is the time from the last frame its journal flushed, by the
journal's own clock, to the kill. The suite checks the flushes by the
program's own clock of play; these are the figures on this machine.
  bench/kill_loss.py [ROUNDS] [TALVO_SIM]"""
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "desktop"))
import journal  # noqa: E402


def main():
    rounds = int(sys.argv[1]) if len(sys.argv) > 1 else 20
    sim = sys.argv[2] if len(sys.argv) > 2 else os.path.join(ROOT, "build/release/talvo-sim")
    rng = random.Random()
    script = "1 command 41\n" + "".join(
        "%d lbuttondown 30 %d\n%d mousemove 300 %d\n%d lbuttonup 300 %d\n" % (f, y, f + 1, y, f + 2, y)
        for f, y in ((10 * i + 5, 40 + 8 * i) for i in range(40)))
    losses = []
    for _ in range(rounds):
        work = tempfile.mkdtemp(prefix="talvo-kill-")
        try:
            data = os.path.join(work, "data")
            with open(os.path.join(work, "strokes.txt"), "w") as f:
                f.write(script)
            process = subprocess.Popen([sim, "--real-time", "--frames", "100000", "--events", "strokes.txt", "s.talvo"],
                                       cwd=work, env=dict(os.environ, XDG_DATA_HOME=data), stderr=subprocess.DEVNULL)
            end = time.monotonic() + 60
            while not (journal.folders(data) and os.listdir(journal.folders(data)[0])):
                if time.monotonic() > end:
                    sys.exit("kill_loss: talvo-sim kept no journal")
                time.sleep(0.05)
            time.sleep(rng.uniform(0.2, 3.0))
            killed_at = time.time()
            process.kill()
            process.wait()
            _, flushed_ms = journal.last_flushed(journal.read(journal.folders(data)[0]))
            losses.append(killed_at * 1000 - flushed_ms)
        finally:
            shutil.rmtree(work, ignore_errors=True)
    losses.sort()
    print("kill_loss: %d kills, ms lost: median %.0f, 90th percentile %.0f, most %.0f"
          % (len(losses), statistics.median(losses), losses[int(0.9 * (len(losses) - 1))], losses[-1]))


if __name__ == "__main__":
    main()
