#!/usr/bin/python3
"""What G costs in memory after long play: the window driven as a person
does (tests/desktop's drivers), at one speed for SECONDS of play with a
stroke every 20 s, then G saved to a file; the program's memory before and
its peak after, and the animation's size and how long it took.
  bench/g_memory.py gtk|wine|web SPEED SECONDS [--one-wall]
SPEED as the menu has it: Stop, Slow, Normal, Fast, "No wait".
--one-wall: a single wall drawn at the start, then the sand left to pour
(the play a person leaves running). GTK and Wine: the
process's resident size (VmRSS) before G and its high-water mark (VmHWM)
before and after. The page: the program's WebAssembly memory and the top of
its heap (which never comes down) before and after, and the page's
JavaScript heap (Chromium's performance.memory), the last two also at
their most while the animation is made (sampled every 0.5 s; the
WebAssembly memory never shrinks). On the desktop also the
resident size once the save dialog has gone (its code stays loaded) and
the most while the animation is made (sampled every 0.1 s)."""
import importlib
import os
import shutil
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "desktop"))
import behaviour  # noqa: E402
from behaviour import wait_until  # noqa: E402

MB = 1 << 20


def status_of(pid):
    """VmRSS and VmHWM of a process, in bytes."""
    found = {}
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            key, _, value = line.partition(":")
            if key in ("VmRSS", "VmHWM"):
                found[key] = int(value.split()[0]) * 1024
    return found


def wine_pid(d):
    """The process that runs talvo.exe under this driver's prefix."""
    mark = ("WINEPREFIX=" + d.s.prefix).encode()
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open("/proc/%s/cmdline" % pid, "rb") as f:
                command = f.read()
            with open("/proc/%s/environ" % pid, "rb") as f:
                environment = f.read().split(b"\0")
        except OSError:
            continue
        if b"talvo.exe" in command and mark in environment:
            return int(pid)
    raise AssertionError("no process runs talvo.exe")


def memory(backend, d):
    if backend == "web":
        return {"wasm": d.js("HEAPU8.length"), "heap_top": d.js("_WebHeapTop()"),
                "js_heap": d.js("performance.memory ? performance.memory.usedJSHeapSize : 0")}
    return status_of(d.process.pid if backend == "gtk" else wine_pid(d))


def main():
    args = sys.argv[1:]
    one_wall = args[3:] == ["--one-wall"]
    if len(args) - one_wall != 3:
        sys.exit(__doc__)
    backend, speed, seconds = args[0], args[1], float(args[2])
    d = importlib.import_module(backend + "_driver").Driver()
    folder = tempfile.mkdtemp(prefix="talvo-g-memory-")
    downloads = None
    try:
        d.start(folder)
        if backend == "web":
            downloads = tempfile.mkdtemp(prefix="talvo-downloads-")
            d.engine.allow_downloads(d.context, downloads)
        d.choose("Speed/" + speed)
        started = time.monotonic()
        row = 0
        while time.monotonic() - started < seconds:
            if row == 0 or not one_wall:
                d.drag(behaviour.horizontal_stroke(120 + (row * 37) % 260, 40, 290, 6))
            row += 1
            time.sleep(min(20, max(0, seconds - (time.monotonic() - started))))
        before = memory(backend, d)
        out = os.path.join(folder, "last-minute.gif")
        asked = time.monotonic()
        d.key("g")
        if backend == "web":
            most = dict(before)

            def downloaded():
                now = memory(backend, d)
                for key in most:
                    most[key] = max(most[key], now[key])
                return [n for n in os.listdir(downloads) if not n.endswith((".crdownload", ".part"))]
            found = wait_until("the download", downloaded, 600, every=0.5)
            path = os.path.join(downloads, found[0])
        else:
            d.answer_save(out)
            path = out
            # Once the dialog has gone (its own code and pictures stay
            # loaded), the most the process holds while the animation is made.
            pid = d.process.pid if backend == "gtk" else wine_pid(d)
            dialog = status_of(pid)["VmRSS"]
            making = dialog
            while not os.path.exists(path) and time.monotonic() - asked < 600:
                making = max(making, status_of(pid)["VmRSS"])
                time.sleep(0.1)
        wait_until("the progress to go", lambda: d.progress() is None, 120)
        took = time.monotonic() - asked
        if backend == "web":
            # Chromium names a download as it is only once it is whole;
            # checked after the clock stops, as reading it takes a while.
            wait_until("the whole download", lambda: subprocess.run(["gifsicle", "--info", path], capture_output=True)
                       .returncode == 0, 120)
        after = memory(backend, d)
        size = os.path.getsize(path)
        d.close()
        if backend == "web":
            line = ("wasm memory %.1f MB before, %.1f MB after; heap top %.1f MB before, at most %.1f MB while "
                    "it was made, %.1f MB after; JS heap %.1f MB before, at most %.1f MB while it was made, "
                    "%.1f MB after" % (
                        before["wasm"] / MB, after["wasm"] / MB, before["heap_top"] / MB, most["heap_top"] / MB,
                        after["heap_top"] / MB, before["js_heap"] / MB, most["js_heap"] / MB, after["js_heap"] / MB))
        else:
            line = ("RSS %.1f MB before, %.1f MB once the dialog went, at most %.1f MB while it was made; "
                    "peak (VmHWM) %.1f MB before G, %.1f MB after" % (
                        before["VmRSS"] / MB, dialog / MB, making / MB, before["VmHWM"] / MB, after["VmHWM"] / MB))
        print("g_memory: %s at %s after %.0f s of play (%s): %s; the animation %.1f MB, made in %.1f s" % (
            backend, speed, seconds, "one wall" if one_wall else "a stroke every 20 s", line, size / MB, took),
            flush=True)
    finally:
        d.stop()
        shutil.rmtree(folder, ignore_errors=True)
        if downloads:
            shutil.rmtree(downloads, ignore_errors=True)


if __name__ == "__main__":
    main()
