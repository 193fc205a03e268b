#!/usr/bin/python3
"""How the page paces itself in headless Chromium, at every speed: paints
of the field a second, the browser's animation frames a second, pictures
the program presents a second, and the milliseconds from a press on the
field to the program taking it (the worst of three), over SECONDS each.
The suite checks the same in frames; these are the figures on this machine.
  bench/page_pace.py [SECONDS] [ROUNDS]
Needs the page (scripts/setup web) and python3-websocket."""
import os
import statistics
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "tests", "desktop"))
import web_driver  # noqa: E402
from behaviour import wait_until  # noqa: E402

PROBE = """(() => {
    const probe = window.talvoPace = {paints: 0, frames: 0, inputs: []};
    const put = CanvasRenderingContext2D.prototype.putImageData;
    CanvasRenderingContext2D.prototype.putImageData = function (...args) {
        if (this.canvas.id === "field") probe.paints++;
        return put.apply(this, args);
    };
    const tick = () => { probe.frames++; requestAnimationFrame(tick); };
    requestAnimationFrame(tick);
    const channel = new MessageChannel();
    let looking = null;
    channel.port1.onmessage = () => looking();
    document.getElementById("field").addEventListener("pointerdown", event => {
        looking = () => _WebIdle() ? probe.inputs.push(performance.now() - event.timeStamp) : channel.port2.postMessage(0);
        looking();
    });
    window.talvoMeasure = ms => new Promise(done => {
        const paints = probe.paints, frames = probe.frames, presents = _WebPresentCount(), start = performance.now();
        setTimeout(() => {
            const s = (performance.now() - start) / 1000;
            done([(probe.paints - paints) / s, (probe.frames - frames) / s, (_WebPresentCount() - presents) / s]);
        }, ms);
    });
    return true;
})()"""


def main():
    seconds = float(sys.argv[1]) if len(sys.argv) > 1 else 2
    rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 3
    d = web_driver.Driver()
    folder = tempfile.mkdtemp(prefix="talvo-pace-")
    figures = {}
    try:
        d.start(folder)
        d.js(PROBE)
        for _ in range(rounds):
            for speed in ("Stop", "Slow", "Normal", "Fast", "No wait"):
                d.choose("Speed/" + speed)
                paints, frames, presents = d.js("talvoMeasure(%d)" % (seconds * 1000))
                for _ in range(3):
                    d.click(*d.field_point(170, 380))
                wait_until("the presses", lambda: d.js("talvoPace.inputs.length") >= 3, 60)
                latency = max(d.js("talvoPace.inputs.splice(0)"))
                figures.setdefault(speed, []).append((paints, frames, presents, latency))
        d.close()
    finally:
        d.stop()
    print("speed     paints/s  frames/s  presents/s  input ms   (medians of %d rounds of %.1f s)" % (rounds, seconds))
    for speed, rows in figures.items():
        p, f, n, i = (statistics.median(column) for column in zip(*rows))
        print("%-8s  %8.0f  %8.0f  %10.0f  %8.1f" % (speed, p, f, n, i))


if __name__ == "__main__":
    main()
