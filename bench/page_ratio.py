#!/usr/bin/python3
"""The page in headless Chromium against the native talvo-sim, frames a
second at "No wait" (the speed a new scene starts at), in turns: each round
runs talvo-sim --real-time --bench for FRAMES frames with the page frozen,
then counts the page's frames for SECONDS; the last line gives the median
ratio.
  bench/page_ratio.py [ROUNDS [SECONDS [FRAMES]]]
Needs the page (scripts/setup web), the release build and python3-websocket."""
import functools
import http.server
import json
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time

import websocket

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PAGE = os.path.join(ROOT, "build/web")
NATIVE = os.path.join(ROOT, "build/release/talvo-sim")
rounds = int(sys.argv[1]) if len(sys.argv) > 1 else 5
seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 5
frames = int(sys.argv[3]) if len(sys.argv) > 3 else 20000
for need in (os.path.join(PAGE, "index.html"), NATIVE):
    if not os.path.exists(need):
        sys.exit("page_ratio: no %s; build it first (scripts/setup release web)" % need)


def wait_for(what, check, limit=60):
    end = time.monotonic() + limit
    while time.monotonic() < end:
        value = check()
        if value:
            return value
        time.sleep(0.1)
    sys.exit("page_ratio: no %s within %d s" % (what, limit))


class Quiet(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass


server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), functools.partial(Quiet, directory=PAGE))
threading.Thread(target=server.serve_forever, daemon=True).start()
profile = tempfile.mkdtemp(prefix="talvo-page-ratio-")
browser = subprocess.Popen(["chromium", "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
                            "--disable-background-networking", "--disable-component-update", "--disable-sync",
                            "--window-size=1024,900", "--user-data-dir=" + profile, "--remote-debugging-port=0",
                            "about:blank"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
try:
    port_file = os.path.join(profile, "DevToolsActivePort")
    port, path = wait_for("DevTools port", lambda: os.path.exists(port_file) and
                          (lambda lines: len(lines) == 2 and lines)(open(port_file).read().split()))
    ws = websocket.create_connection("ws://127.0.0.1:%s%s" % (port, path), timeout=60, suppress_origin=True)
    sent = [0]

    def call(method, session=None, **params):
        sent[0] += 1
        message = {"id": sent[0], "method": method, "params": params}
        if session:
            message["sessionId"] = session
        ws.send(json.dumps(message))
        while True:
            reply = json.loads(ws.recv())
            if reply.get("id") == sent[0]:
                return reply.get("result", {})

    target = call("Target.createTarget", url="about:blank")["targetId"]
    session = call("Target.attachToTarget", targetId=target, flatten=True)["sessionId"]
    call("Page.navigate", session, url="http://127.0.0.1:%d/" % server.server_address[1])

    def presents():
        # At "No wait" the page shows every frame it steps.
        reply = call("Runtime.evaluate", session, returnByValue=True,
                     expression="typeof _WebPresentCount == 'function' ? [_WebPresentCount(), performance.now()] : null")
        return reply.get("result", {}).get("value")

    wait_for("frames from the page", lambda: (presents() or [0])[0] > 100)
    time.sleep(3)  # past the engine's optimising compile

    native_fps, page_fps, ratios = [], [], []
    for turn in range(1, rounds + 1):
        # The page is frozen meanwhile, so that neither run takes the other's processor.
        call("Page.setWebLifecycleState", session, state="frozen")
        with tempfile.TemporaryDirectory() as folder:
            out = subprocess.run([NATIVE, "--real-time", "--bench", "--frames", str(frames), "--seed", "1",
                                  "scene.talvo"], cwd=folder, capture_output=True, text=True, check=True).stdout
        call("Page.setWebLifecycleState", session, state="active")
        native_fps.append(float(re.search(r"fps=([0-9.]+)", out).group(1)))
        time.sleep(1)
        first = presents()
        time.sleep(seconds)
        last = presents()
        page_fps.append((last[0] - first[0]) / ((last[1] - first[1]) / 1000))
        ratios.append(page_fps[-1] / native_fps[-1])
        print("round %d: native %.0f, page %.0f frames a second, ratio %.3f" % (turn, native_fps[-1], page_fps[-1],
                                                                                ratios[-1]), flush=True)
    version = subprocess.run(["chromium", "--version"], capture_output=True, text=True).stdout.strip()
    model = next((line.split(":", 1)[1].strip() for line in open("/proc/cpuinfo") if line.startswith("model name")), "?")
    print("processor: %s; %s" % (model, version))
    print("page/native frames a second: median %.3f of %d rounds (native %.0f, page %.0f)" % (
        statistics.median(ratios), rounds, statistics.median(native_fps), statistics.median(page_fps)))
    ws.close()
finally:
    browser.terminate()
    browser.wait()
    server.shutdown()
    shutil.rmtree(profile, ignore_errors=True)
