"""Talvo's web page in headless Chromium, driven over the DevTools protocol.

The page is served from build/web on 127.0.0.1. One browser serves every
test; each test gets a browser context of its own, so its own site storage,
which plays the part of the program's working folder: start() copies the
test's folder into it, close() closes the page (the page saves the scene as
it goes) and copies what the site keeps back into the folder, a dropped
scene back over the file that was dropped. Input is real browser input:
mouse events at page positions, drag-and-drop of files.
"""
import atexit
import base64
import functools
import http.server
import json
import os
import shutil
import subprocess
import tempfile
import threading
import time
import urllib.parse

import websocket  # Debian's python3-websocket

import driver
from behaviour import HEIGHT, ROOT, WIDTH, Picture, end_process, wait_until

PAGE = os.environ.get("TALVO_WEB", os.path.join(ROOT, "build/web"))
EVIDENCE = os.environ.get("TALVO_EVIDENCE", os.path.join(ROOT, "build/web-evidence"))
# The site's folder as the page keeps it: IndexedDB "talvo", one record a
# file in "files", the scene shown last under "current" in "state".
STORE = """var talvoStore = () => new Promise((ok, no) => {
    const r = indexedDB.open("talvo", 1);
    r.onupgradeneeded = () => { r.result.createObjectStore("files"); r.result.createObjectStore("state"); };
    r.onsuccess = () => ok(r.result);
    r.onerror = () => no(r.error);
});
var talvoDone = q => new Promise((ok, no) => { q.onsuccess = () => ok(q.result); q.onerror = () => no(q.error); });
var talvoCommitted = tx => new Promise((ok, no) => { tx.oncomplete = ok; tx.onerror = tx.onabort = () => no(tx.error); });
"""
BLANK = "/blank"  # a page of the site that is not the program


class DevTools:
    """One connection to the browser; pages are reached through flat sessions."""

    def __init__(self, url):
        self.socket = websocket.create_connection(url, timeout=30, suppress_origin=True)
        self.last_id = 0
        self.events = []

    def call(self, method, session=None, timeout=30.0, **params):
        self.last_id += 1
        message = {"id": self.last_id, "method": method, "params": params}
        if session:
            message["sessionId"] = session
        self.socket.send(json.dumps(message))
        end = time.monotonic() + timeout
        while True:
            reply = self._receive(end, method)
            if reply.get("id") == self.last_id:
                if "error" in reply:
                    raise RuntimeError("%s: %s" % (method, reply["error"].get("message")))
                return reply.get("result", {})

    def _receive(self, end, what):
        left = end - time.monotonic()
        if left <= 0:
            raise AssertionError("timed out waiting for the browser: " + what)
        self.socket.settimeout(left)
        try:
            message = json.loads(self.socket.recv())
        except websocket.WebSocketTimeoutException:
            raise AssertionError("timed out waiting for the browser: " + what) from None
        if "method" in message:
            self.events.append(message)
        return message

    def take_events(self, method, session=None):
        taken = [e for e in self.events if e["method"] == method and (session is None or e.get("sessionId") == session)]
        self.events = [e for e in self.events if e not in taken]
        return taken

    def wait_event(self, method, predicate=lambda params: True, timeout=20.0):
        end = time.monotonic() + timeout
        while True:
            for event in self.events:
                if event["method"] == method and predicate(event.get("params", {})):
                    self.events.remove(event)
                    return event["params"]
            self._receive(end, method)


class Quiet(http.server.SimpleHTTPRequestHandler):
    def do_GET(self):
        if self.path == BLANK:
            body = b"<!doctype html><title>blank</title>"
            self.send_response(200)
            self.send_header("Content-Type", "text/html")
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)
            return
        super().do_GET()

    def log_message(self, *args):
        pass


class Browser:
    """Chromium and the page's server, started once for all tests."""
    shared = None

    @classmethod
    def get(cls):
        if cls.shared is None:
            cls.shared = Browser()
            atexit.register(cls.shared.close)
        return cls.shared

    def __init__(self, profile=None, port=0):
        """`profile`: a profile folder of the caller's, whose default context
        keeps the site's storage on disk (and which stays); `port`: the
        page's, which with the host makes the site whose storage it is."""
        self.kept_profile = profile
        if not os.path.exists(os.path.join(PAGE, "index.html")):
            raise RuntimeError("no page in %s: build it with scripts/setup web" % PAGE)
        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", port), functools.partial(Quiet, directory=PAGE))
        threading.Thread(target=self.server.serve_forever, daemon=True).start()
        self.origin = "http://127.0.0.1:%d" % self.server.server_address[1]
        self.profile = profile or tempfile.mkdtemp(prefix="talvo-chromium-")
        self.log = open(os.path.join(self.profile, "chromium.log"), "w")
        # A browser that was killed left its port behind.
        if os.path.exists(os.path.join(self.profile, "DevToolsActivePort")):
            os.remove(os.path.join(self.profile, "DevToolsActivePort"))
        self.process = subprocess.Popen(
            ["chromium", "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
             "--disable-background-networking", "--disable-component-update", "--disable-sync",
             "--window-size=1024,900", "--user-data-dir=" + self.profile, "--remote-debugging-port=0", "about:blank"],
            stdout=self.log, stderr=self.log)
        port_file = os.path.join(self.profile, "DevToolsActivePort")

        def endpoint():
            if self.process.poll() is not None:
                raise RuntimeError("chromium ended; see " + self.log.name)
            lines = open(port_file).read().split() if os.path.exists(port_file) else []
            return len(lines) == 2 and lines
        port, path = wait_until("chromium's DevTools port", endpoint, timeout=60)
        self.tools = DevTools("ws://127.0.0.1:%s%s" % (port, path))
        self.tools.call("Target.setDiscoverTargets", discover=True)

    def close(self):
        try:
            self.tools.socket.close()
        except Exception:
            pass
        end_process(self.process, 10)
        self.server.shutdown()
        self.server.server_close()
        self.log.close()
        if not self.kept_profile:
            shutil.rmtree(self.profile, ignore_errors=True)


class Driver(driver.Driver):
    def __init__(self, browser=None):
        """On `browser`, the pages are in its default context (its profile's
        storage); by default, in a context of each test's own."""
        self.persistent = browser is not None
        self.browser = browser or Browser.get()
        self.tools = self.browser.tools
        self.context = None
        self.target = None
        self.session = None
        self.folder = None
        self.dropped = {}
        self.problems = []
        self.console = []

    # --- pages

    def _open(self, path):
        """A new page of this test's context at `path` of the site."""
        where = {"browserContextId": self.context} if self.context else {}
        self.target = self.tools.call("Target.createTarget", url="about:blank", **where)["targetId"]
        self.session = self.tools.call("Target.attachToTarget", targetId=self.target, flatten=True)["sessionId"]
        for domain in ("Page", "Runtime"):
            self.call(domain + ".enable")
        self.call("Page.navigate", url=self.browser.origin + path)
        wait_until("the page " + path, lambda: self.js(
            "location.pathname == %s && document.readyState == 'complete'" % json.dumps(path)), timeout=30)

    def _close_page(self):
        if not self.target:
            return
        self._collect()
        target, self.target, self.session = self.target, None, None
        self.tools.call("Target.closeTarget", targetId=target)
        self.tools.wait_event("Target.targetDestroyed", lambda p: p.get("targetId") == target)

    def call(self, method, **params):
        return self.tools.call(method, session=self.session, **params)

    def js(self, expression):
        result = self.call("Runtime.evaluate", expression=expression, returnByValue=True, awaitPromise=True)
        if "exceptionDetails" in result:
            details = result["exceptionDetails"]
            raise RuntimeError("page script failed: %s" % details.get("exception", {}).get("description", details.get("text")))
        return result["result"].get("value")

    def _collect(self):
        """Keeps the page's uncaught errors and console lines."""
        if not self.session:
            return
        for event in self.tools.take_events("Runtime.exceptionThrown", self.session):
            details = event["params"]["exceptionDetails"]
            self.problems.append(details.get("exception", {}).get("description") or details.get("text"))
        for event in self.tools.take_events("Runtime.consoleAPICalled", self.session):
            params = event["params"]
            line = " ".join(str(a.get("value", a.get("description", ""))) for a in params.get("args", []))
            self.console.append(params["type"] + ": " + line)
            if params["type"] == "error":
                self.problems.append(line)

    def _storage(self):
        """The site's stored files, {name: bytes}, and the scene it shows last."""
        stored = self.js(STORE + """(async () => {
            const db = await talvoStore();
            const tx = db.transaction(["files", "state"]);
            const files = tx.objectStore("files");
            const [names, contents, current] = await Promise.all([talvoDone(files.getAllKeys()),
                talvoDone(files.getAll()), talvoDone(tx.objectStore("state").get("current"))]);
            db.close();
            const base64 = bytes => {
                let s = "";
                for (let i = 0; i < bytes.length; i += 0x8000) s += String.fromCharCode.apply(null, bytes.subarray(i, i + 0x8000));
                return btoa(s);
            };
            const out = {};
            names.forEach((name, i) => { out[name] = base64(contents[i]); });
            // What the page wrote as it went and the store may have missed:
            // the next visit takes it from there.
            const journal = JSON.parse(localStorage.getItem("talvo:journal") || "null");
            if (journal) {
                Object.assign(out, journal.files);
                for (const name of journal.gone) delete out[name];
            }
            return JSON.stringify({files: out, current: (journal && journal.current) || current || null});
        })()""")
        items = json.loads(stored)
        return {k: base64.b64decode(v) for k, v in items["files"].items()}, items["current"]

    def _store(self, files):
        """Puts files {name: bytes} into the site's folder."""
        data = {name: base64.b64encode(b).decode() for name, b in files.items()}
        self.js(STORE + """(async () => {
            const db = await talvoStore();
            const tx = db.transaction("files", "readwrite");
            for (const [name, text] of Object.entries(%s)) {
                const raw = atob(text), bytes = new Uint8Array(raw.length);
                for (let i = 0; i < raw.length; ++i) bytes[i] = raw.charCodeAt(i);
                tx.objectStore("files").put(bytes, name);
            }
            await talvoCommitted(tx);
            db.close();
        })()""" % json.dumps(data))

    def _forget_current(self):
        self.js(STORE + """(async () => {
            const journal = JSON.parse(localStorage.getItem("talvo:journal") || "null");
            if (journal) {
                journal.current = null;
                localStorage.setItem("talvo:journal", JSON.stringify(journal));
            }
            const db = await talvoStore();
            const tx = db.transaction("state", "readwrite");
            tx.objectStore("state").delete("current");
            await talvoCommitted(tx);
            db.close();
        })()""")

    def _show(self, args):
        query = "?" + urllib.parse.urlencode([("arg", a) for a in args]) if args else ""
        self.call("Page.navigate", url=self.browser.origin + "/index.html" + query)
        wait_until("the page to show the program",
                   lambda: self.js("typeof Module == 'object' && Module.calledRun && _WebPresentCount() > 0"), timeout=30)

    # --- the driver contract

    def start(self, folder, args=()):
        self.stop()
        self.tools.events.clear()  # what earlier tests left
        self.folder = folder
        self.context = None if self.persistent else self.tools.call("Target.createBrowserContext")["browserContextId"]
        where = {"browserContextId": self.context} if self.context else {}
        self.tools.call("Browser.grantPermissions", origin=self.browser.origin,
                        permissions=["clipboardReadWrite", "clipboardSanitizedWrite"], **where)
        self._open(BLANK)
        files = {}
        for name in sorted(os.listdir(folder)):
            path = os.path.join(folder, name)
            if os.path.isfile(path):
                with open(path, "rb") as f:
                    files[name] = f.read()
        self._store(files)
        self._show(list(args))

    def restart(self, folder, scene):
        """Opens the page again: the site's storage brings the scene back. A
        dropped scene is the page's copy of it."""
        self.folder = folder
        scene = {path: "dropped/" + name for name, path in self.dropped.items()}.get(scene, scene)
        self._open(BLANK)
        _, current = self._storage()
        self._show([] if current == scene else [scene])

    def shot(self):
        data = self.js("""(() => {
            const d = document.getElementById("field").getContext("2d").getImageData(0, 0, %d, %d).data;
            const rgb = new Uint8Array(d.length / 4 * 3);
            for (let i = 0, j = 0; i < d.length; i += 4) { rgb[j++] = d[i]; rgb[j++] = d[i + 1]; rgb[j++] = d[i + 2]; }
            let s = "";
            for (let i = 0; i < rgb.length; i += 0x8000) s += String.fromCharCode.apply(null, rgb.subarray(i, i + 0x8000));
            return btoa(s);
        })()""" % (WIDTH, HEIGHT))
        return Picture(base64.b64decode(data))

    def menu(self):
        """The menu the menu button controls, from its roles and marks."""
        return self.js("""(() => {
            const button = document.querySelector("button[aria-haspopup=menu]");
            const lines = [];
            const walk = (list, indent) => {
                for (const entry of list.children) {
                    const role = entry.getAttribute("role");
                    if (role === "separator") {
                        lines.push(indent + "----");
                    } else if (role === "none") {
                        const opener = entry.querySelector(":scope > [role=menuitem][aria-haspopup=menu]");
                        lines.push(indent + opener.textContent + " >");
                        walk(entry.querySelector(":scope > [role=menu]"), indent + "  ");
                    } else if (/^menuitem/.test(role)) {
                        lines.push(indent + (entry.getAttribute("aria-checked") === "true" ? "[x] " : "[ ] ") + entry.textContent);
                    }
                }
            };
            walk(document.getElementById(button.getAttribute("aria-controls")), "");
            return lines;
        })()""")

    def _centre(self, expression, what):
        point = wait_until(what, lambda: self.js(expression), timeout=30)
        return point[0], point[1]

    def click(self, x, y, button="left"):
        bits = {"left": 1, "right": 2}[button]
        self.call("Input.dispatchMouseEvent", type="mouseMoved", x=x, y=y)
        self.call("Input.dispatchMouseEvent", type="mousePressed", x=x, y=y, button=button, buttons=bits, clickCount=1)
        self.call("Input.dispatchMouseEvent", type="mouseReleased", x=x, y=y, button=button, buttons=0, clickCount=1)

    def click_element(self, selector, what):
        self.click(*self._centre("""(() => {
            const e = document.querySelector(%s);
            if (!e || e.offsetParent === null) return null;
            const r = e.getBoundingClientRect();
            return [r.left + r.width / 2, r.top + r.height / 2];
        })()""" % json.dumps(selector), what))

    def wait_idle(self):
        wait_until("the program to take the input", lambda: self.js("_WebIdle()"), timeout=30, every=0.02)

    def choose(self, path):
        if self.js("document.getElementById('menu-button').getAttribute('aria-expanded')") != "true":
            self.click_element("#menu-button", "the menu button")
        for label in path.split("/"):
            # The deepest open list first: several popups have a "Normal".
            self.click(*self._centre("""(() => {
                const open = [...document.querySelectorAll("[role=menu]")].filter(l => l.offsetParent !== null);
                for (const list of open.reverse())
                    for (const item of list.querySelectorAll(":scope > [role^=menuitem], :scope > li > [role^=menuitem]"))
                        if (item.textContent === %s) {
                            const r = item.getBoundingClientRect();
                            return [r.left + r.width / 2, r.top + r.height / 2];
                        }
                return null;
            })()""" % json.dumps(label), "the menu item " + label))
        self.wait_idle()

    def field_point(self, x, y):
        """The page position of the middle of field cell (x, y)."""
        left, top, scale = self.js("""(() => {
            const r = document.getElementById("field").getBoundingClientRect();
            return [r.left, r.top, r.width / %d];
        })()""" % WIDTH)
        return left + (x + 0.5) * scale, top + (y + 0.5) * scale

    def drag(self, points, button="left"):
        bits = {"left": 1, "right": 2}[button]
        spots = [self.field_point(x, y) for x, y in points]
        first, last = spots[0], spots[-1]
        self.call("Input.dispatchMouseEvent", type="mouseMoved", x=first[0], y=first[1])
        self.call("Input.dispatchMouseEvent", type="mousePressed", x=first[0], y=first[1], button=button,
                  buttons=bits, clickCount=1)
        for x, y in spots[1:]:
            self.call("Input.dispatchMouseEvent", type="mouseMoved", x=x, y=y, button=button, buttons=bits)
        self.call("Input.dispatchMouseEvent", type="mouseReleased", x=last[0], y=last[1], button=button,
                  buttons=0, clickCount=1)
        self.wait_idle()

    def about_is_open(self):
        return self.js("!document.getElementById('about').hidden")

    def about_ok(self):
        self.click_element("#about-ok", "the About dialog's OK button")

    def drop(self, path):
        self.drop_files([path])

    def drop_files(self, paths):
        self.dropped.update({os.path.basename(p): p for p in paths})
        x, y = self.field_point(WIDTH // 2, HEIGHT // 2)
        data = {"items": [], "files": [os.path.abspath(p) for p in paths], "dragOperationsMask": 1}
        for kind in ("dragEnter", "dragOver", "drop"):
            self.call("Input.dispatchDragEvent", type=kind, x=x, y=y, data=data)

    def key(self, combo):
        """Keys on the field, which a click gives the focus, as a person
        does: 'ctrl+c', 'ctrl+shift+z'."""
        self.click(*self.field_point(WIDTH - 2, HEIGHT - 2))
        *held, key = combo.split("+")
        modifiers = sum({"alt": 1, "ctrl": 2, "meta": 4, "shift": 8}[m] for m in held)
        text = key.upper() if "shift" in held else key
        for kind in ("keyDown", "keyUp"):
            self.call("Input.dispatchKeyEvent", type=kind, modifiers=modifiers, key=text,
                      code="Key" + key.upper() if len(key) == 1 else key, windowsVirtualKeyCode=ord(key.upper()))
        self.wait_idle()

    def clipboard(self):
        """The clipboard's picture where headless Chromium gives it back;
        where it refuses image items (no focus), the PNG the page handed to
        the clipboard call."""
        data = self.js("""(async () => {
            const base64 = async blob => {
                const bytes = new Uint8Array(await blob.arrayBuffer());
                let s = "";
                for (let i = 0; i < bytes.length; i += 0x8000) s += String.fromCharCode.apply(null, bytes.subarray(i, i + 0x8000));
                return btoa(s);
            };
            try {
                for (const item of await navigator.clipboard.read())
                    if (item.types.includes("image/png")) return await base64(await item.getType("image/png"));
            } catch (error) {
                // Refused: the page's own hand-over below.
            }
            const handed = talvoPage.copied();
            return handed ? await base64(await handed) : null;
        })()""")
        return Picture.from_png(base64.b64decode(data)) if data else None

    def start_refused(self, folder):
        self.stop()
        self.folder = folder
        self.context = self.tools.call("Target.createBrowserContext")["browserContextId"]
        self._open(BLANK)
        self.call("Page.addScriptToEvaluateOnNewDocument",
                  source="window.Module = { preRun: [() => { ENV.TALVO_TEST_NO_SURFACE = '1'; }] };")
        self.call("Page.navigate", url=self.browser.origin + "/index.html")
        status = wait_until("the page to say that Talvo ended", lambda: (lambda t: "ended" in t and t)(
            self.js("(document.getElementById('status') || {}).textContent || ''")), timeout=60)
        assert "ERROR" in self.js("document.getElementById('message').textContent"), "no error shown"
        self.problems = [p for p in self.problems if "ERROR" not in p]
        code = status.partition("(code ")[2].partition(")")[0]
        return int(code) if code else 0

    def close(self):
        """Closes the page, which saves the scene as it goes, then copies what
        the site keeps into the test's folder (a dropped scene back over the
        file dropped)."""
        self._leave(self._close_page)

    def repaint(self):
        """Another tab in front, then this one again."""
        other = self.tools.call("Target.createTarget", url="about:blank", browserContextId=self.context)["targetId"]
        wait_until("the page to be hidden", lambda: self.js("document.visibilityState") == "hidden")
        self.tools.call("Target.closeTarget", targetId=other)
        wait_until("the page to show again", lambda: self.js("document.visibilityState") == "visible")

    def session_ends(self):
        return ["the page left for another"]

    def end_session(self, how):
        def away():
            self.call("Page.navigate", url=self.browser.origin + BLANK)
            wait_until("the other page", lambda: self.js("location.pathname") == BLANK)
            self._close_page()
        self._leave(away)

    def _leave(self, go):
        # The page names its scene last when it saves; what a page that goes
        # wrote reaches other pages a moment later.
        self._forget_current()
        go()
        problems, self.problems = self.problems, []
        assert not problems, "the page reported: %s" % problems
        self._open(BLANK)
        # A generous limit: with both cores busy and two Wine suites beside the
        # browser, what a closed page wrote once did not show within 10 s.
        files, current = wait_until("the scene the page kept as it went",
                                    lambda: (lambda s: s[1] in s[0] and s)(self._storage()), timeout=60)
        self._close_page()
        for name, data in files.items():
            target = self.dropped.get(os.path.basename(name)) if name.startswith("dropped/") else None
            target = target or os.path.join(self.folder, name)
            os.makedirs(os.path.dirname(target), exist_ok=True)
            with open(target, "wb") as f:
                f.write(data)

    def stop(self):
        try:
            self._collect()
        except Exception:
            pass
        if self.context:
            try:
                self.tools.call("Target.disposeBrowserContext", browserContextId=self.context)
            except Exception:
                pass
        self.context = self.target = self.session = None

    def evidence(self, name):
        os.makedirs(EVIDENCE, exist_ok=True)
        base = os.path.join(EVIDENCE, name)
        try:
            self._collect()
            if self.session:
                shot = self.call("Page.captureScreenshot", format="png")["data"]
                with open(base + ".png", "wb") as f:
                    f.write(base64.b64decode(shot))
        except Exception as error:
            self.console.append("no screenshot: %s" % error)
        with open(base + ".log", "w") as f:
            f.write("\n".join(self.console + ["problem: %s" % p for p in self.problems]) + "\n")
        print("evidence: %s.png and %s.log" % (base, base))
