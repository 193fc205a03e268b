"""Talvo's web page in a browser: headless Chromium over the DevTools
protocol, Firefox ESR over WebDriver BiDi, or WebKitGTK through its WebDriver
(TALVO_BROWSER=chromium|firefox|webkit; `run firefox` and `run webkit` set
it). An engine class knows its browser's protocol; the Driver above them is
the same for all three.

The page is served from build/web on 127.0.0.1. One browser serves every
test; each test gets a context of its own (a browser context, a user
context, a WebKit session), so its own site storage, which plays the part of
the program's working folder: start() copies the test's folder into it,
close() closes the page (the page saves the scene as it goes) and copies
what the site keeps back into the folder, a dropped scene back over the file
that was dropped. Input is browser input: mouse events at page positions;
files are dropped by drag-and-drop in Chromium, by a drop event carrying
them in the other two, whose protocols cannot drag files.
"""
import atexit
import base64
import functools
import glob
import http.server
import json
import math
import os
import re
import shutil
import subprocess
import tempfile
import threading
import time
import urllib.parse

import websocket  # Debian's python3-websocket

import driver
import journal
from behaviour import HEIGHT, LAYOUT_KEYS, ROOT, WIDTH, Picture, end_process, wait_until

PAGE = os.environ.get("TALVO_WEB", os.path.join(ROOT, "build/web"))
ENGINE = os.environ.get("TALVO_BROWSER", "chromium")
EVIDENCE = os.environ.get("TALVO_EVIDENCE", os.path.join(ROOT, "build/web-evidence", ENGINE))
# Keys by the name the page's events give them: (WebDriver's code point,
# the Windows key code, the text the key types).
NAMED_KEYS = {"Tab": ("\ue004", 9, None), "Enter": ("\ue007", 13, "\r"), "Escape": ("\ue00c", 27, None),
              "End": ("\ue010", 35, None), "ArrowUp": ("\ue013", 38, None), "ArrowRight": ("\ue014", 39, None),
              " ": (" ", 32, " "), "F1": ("\ue031", 112, None)}


def in_store(body):
    """An expression running `body` (statements of an async function) with
    the site's folder as the page keeps it at hand: IndexedDB "talvo", one
    record a file in "files", the scene shown last under "current" in
    "state"."""
    return """(async () => {
    const talvoStore = () => new Promise((ok, no) => {
        const r = indexedDB.open("talvo", 1);
        r.onupgradeneeded = () => { r.result.createObjectStore("files"); r.result.createObjectStore("state"); };
        r.onsuccess = () => ok(r.result);
        r.onerror = () => no(r.error);
    });
    const talvoDone = q => new Promise((ok, no) => { q.onsuccess = () => ok(q.result); q.onerror = () => no(q.error); });
    const talvoCommitted = tx => new Promise((ok, no) => { tx.oncomplete = ok; tx.onerror = tx.onabort = () => no(tx.error); });
    %s
})()""" % body


BLANK = "/blank"  # a page of the site that is not the program
FRAMED = "/framed"  # the program in a sandboxed frame, where nothing is kept
# Where the protocol reports no page errors (WebKit's), the page records
# them itself from its first line.
RECORDER = b"""<script>window.talvoProblems = [];
addEventListener("error", e => talvoProblems.push("uncaught: " + (e.error && e.error.stack || e.message)));
addEventListener("unhandledrejection", e => talvoProblems.push("unhandled rejection: " + (e.reason && e.reason.stack || e.reason)));
console.error = (error => (...args) => { talvoProblems.push(args.join(" ")); error.apply(console, args); })(console.error);
</script>"""


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
    recorder = False
    # The service worker of a later build: a cache of another name.
    next_build = False
    # Paths served once with other bytes (an earlier build's), then as they are.
    earlier_once = set()

    def do_GET(self):
        path = urllib.parse.urlsplit(self.path).path
        self.requests.append(path)
        if path in self.earlier_once:
            self.earlier_once.discard(path)
            return self._send(b"an earlier build's " + path.encode(), "application/octet-stream")
        if path == "/sw.js" and self.next_build:
            with open(os.path.join(PAGE, "sw.js"), "rb") as f:
                return self._send(f.read().replace(b'const Cache = "talvo-', b'const Cache = "talvo-next-'), "text/javascript")
        if path == BLANK:
            return self._send(b"<!doctype html><title>blank</title>")
        if path == FRAMED:
            return self._send(b'<!doctype html><title>framed</title><style>body{margin:0}</style>'
                              b'<iframe sandbox="allow-scripts" src="/index.html" style="border:0;width:1000px;height:800px">'
                              b'</iframe>')
        if self.recorder and path in ("/", "/index.html"):
            with open(os.path.join(PAGE, "index.html"), "rb") as f:
                return self._send(f.read().replace(b"<head>", b"<head>" + RECORDER, 1))
        super().do_GET()

    def end_headers(self):
        # A sandboxed frame's page has no origin: it fetches talvo.wasm as
        # from another site.
        self.send_header("Access-Control-Allow-Origin", "*")
        super().end_headers()

    def _send(self, body, kind="text/html"):
        self.send_response(200)
        self.send_header("Content-Type", kind)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass


class Server:
    """The page's folder on 127.0.0.1; it can stop and start again on the
    same port, for the page offline."""

    def __init__(self, recorder=False, port=0):
        # `requests`: the path of every GET, in order, for whoever clears it.
        self.requests = []
        self.handler = type("Handler", (Quiet,), {"recorder": recorder, "requests": self.requests})
        self.httpd = None
        self.port = port
        self.start()
        self.origin = "http://127.0.0.1:%d" % self.port

    def start(self):
        self.httpd = http.server.ThreadingHTTPServer(("127.0.0.1", self.port), functools.partial(self.handler, directory=PAGE))
        self.port = self.httpd.server_address[1]
        threading.Thread(target=self.httpd.serve_forever, daemon=True).start()

    def stop(self):
        self.httpd.shutdown()
        self.httpd.server_close()


def free_port():
    import socket
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Chromium:
    """Headless Chromium over the DevTools protocol: a browser context a
    test, a target a tab, reached through flat sessions. `preferences` go
    into the profile before it starts (site data blocked, say)."""
    name = "chromium"
    records_problems_itself = False
    hides_tabs = True

    def __init__(self, server, preferences=None, profile=None, display=None):
        """`profile`: the caller's, kept afterwards, whose own context keeps
        the site's storage on disk. `display`: an x11.Display it opens its
        windows on instead of running headless, as a person's does."""
        self.server = server
        self.kept_profile = profile
        self.profile = profile or tempfile.mkdtemp(prefix="talvo-chromium-")
        # A browser that was killed left its port behind.
        if os.path.exists(os.path.join(self.profile, "DevToolsActivePort")):
            os.remove(os.path.join(self.profile, "DevToolsActivePort"))
        if preferences:
            os.makedirs(os.path.join(self.profile, "Default"))
            with open(os.path.join(self.profile, "Default", "Preferences"), "w") as f:
                json.dump(preferences, f)
        self.log = open(os.path.join(self.profile, "chromium.log"), "w")
        self.process = subprocess.Popen(
            ["chromium"] + ([] if display else ["--headless"]) +
            ["--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
             "--disable-background-networking", "--disable-component-update", "--disable-sync",
             "--window-size=1024,900", "--user-data-dir=" + self.profile, "--remote-debugging-port=0", "about:blank"],
            stdout=self.log, stderr=self.log, env=display.env if display else None)
        port_file = os.path.join(self.profile, "DevToolsActivePort")

        def endpoint():
            if self.process.poll() is not None:
                raise RuntimeError("chromium ended; see " + self.log.name)
            lines = open(port_file).read().split() if os.path.exists(port_file) else []
            return len(lines) == 2 and lines
        port, path = wait_until("chromium's DevTools port", endpoint, timeout=60)
        self.tools = DevTools("ws://127.0.0.1:%s%s" % (port, path))
        self.tools.call("Target.setDiscoverTargets", discover=True)

    def new_context(self):
        self.tools.events.clear()  # what earlier tests left
        context = self.tools.call("Target.createBrowserContext")["browserContextId"]
        self.tools.call("Browser.grantPermissions", browserContextId=context, origin=self.server.origin,
                        permissions=["clipboardReadWrite", "clipboardSanitizedWrite"])
        return context

    def dispose_context(self, context):
        self.tools.call("Target.disposeBrowserContext", browserContextId=context)

    def allow_downloads(self, context, folder):
        where = {"browserContextId": context} if context else {}
        self.tools.call("Browser.setDownloadBehavior", behavior="allow", downloadPath=folder, **where)

    def open_tab(self, context, url):
        """A new tab; None as the context: the browser's own, lasting one."""
        params = {"browserContextId": context} if context else {}
        target = self.tools.call("Target.createTarget", url="about:blank", **params)["targetId"]
        session = self.tools.call("Target.attachToTarget", targetId=target, flatten=True)["sessionId"]
        for domain in ("Page", "Runtime"):
            self.tools.call(domain + ".enable", session=session)
        tab = (target, session)
        self.navigate(tab, url)
        return tab

    def navigate(self, tab, url):
        self.tools.call("Page.navigate", session=tab[1], url=url)

    def close_tab(self, tab):
        self.tools.call("Target.closeTarget", targetId=tab[0])
        # What the page kept as it went is looked for by whoever needs it;
        # a slow tear-down (both cores busy) only costs time here.
        try:
            self.tools.wait_event("Target.targetDestroyed", lambda p: p.get("targetId") == tab[0], timeout=10)
        except AssertionError:
            pass

    def js(self, tab, expression):
        result = self.tools.call("Runtime.evaluate", session=tab[1], expression=expression, returnByValue=True,
                                 awaitPromise=True)
        if "exceptionDetails" in result:
            details = result["exceptionDetails"]
            raise RuntimeError("page script failed: %s" % details.get("exception", {}).get("description", details.get("text")))
        return result["result"].get("value")

    def pointer(self, tab, steps, modifiers=()):
        """steps: (kind, x, y, button) with kind move, down or up;
        `modifiers` the keys held throughout ("shift", "ctrl")."""
        held = 0
        mask = sum({"alt": 1, "ctrl": 2, "meta": 4, "shift": 8}[m] for m in modifiers)
        for kind, x, y, button in steps:
            bit = {"left": 1, "right": 2}.get(button, 0)
            params = {"x": x, "y": y, "modifiers": mask}
            if kind == "move":
                params.update(button=button or "none", buttons=held)
                kind = "mouseMoved"
            else:
                held = held | bit if kind == "down" else held & ~bit
                params.update(button=button, buttons=held, clickCount=1)
                kind = "mousePressed" if kind == "down" else "mouseReleased"
            self.tools.call("Input.dispatchMouseEvent", session=tab[1], type=kind, **params)

    def key(self, tab, held, key):
        modifiers = sum({"alt": 1, "ctrl": 2, "meta": 4, "shift": 8}[m] for m in held)
        if key in NAMED_KEYS:
            _, code, typed = NAMED_KEYS[key]
            params = {"key": key, "code": "Space" if key == " " else key, "windowsVirtualKeyCode": code}
            self.tools.call("Input.dispatchKeyEvent", session=tab[1], type="keyDown" if typed else "rawKeyDown",
                            modifiers=modifiers, **params, **({"text": typed} if typed else {}))
            self.tools.call("Input.dispatchKeyEvent", session=tab[1], type="keyUp", modifiers=modifiers, **params)
            return
        text = key.upper() if "shift" in held else key
        for kind in ("keyDown", "keyUp"):
            self.tools.call("Input.dispatchKeyEvent", session=tab[1], type=kind, modifiers=modifiers, key=text,
                            code="Key" + key.upper() if len(key) == 1 else key, windowsVirtualKeyCode=ord(key.upper()))

    def activate(self, tab):
        self.tools.call("Target.activateTarget", targetId=tab[0])

    def preload(self, tab, source):
        """Has `source` run first in every page the tab loads from now on."""
        self.tools.call("Page.addScriptToEvaluateOnNewDocument", session=tab[1], source=source)

    def drop_files(self, tab, paths, x, y):
        data = {"items": [], "files": [os.path.abspath(p) for p in paths], "dragOperationsMask": 1}
        for kind in ("dragEnter", "dragOver", "drop"):
            self.tools.call("Input.dispatchDragEvent", session=tab[1], type=kind, x=x, y=y, data=data)

    def screenshot(self, tab):
        return base64.b64decode(self.tools.call("Page.captureScreenshot", session=tab[1], format="png")["data"])

    def problems(self, tab):
        """The page's uncaught errors and console errors since last asked,
        and every console line."""
        problems, lines = [], []
        for event in self.tools.take_events("Runtime.exceptionThrown", tab[1]):
            details = event["params"]["exceptionDetails"]
            problems.append(details.get("exception", {}).get("description") or details.get("text"))
        for event in self.tools.take_events("Runtime.consoleAPICalled", tab[1]):
            params = event["params"]
            line = " ".join(str(a.get("value", a.get("description", ""))) for a in params.get("args", []))
            lines.append(params["type"] + ": " + line)
            if params["type"] == "error":
                problems.append(line)
        return problems, lines

    def close(self):
        try:
            self.tools.socket.close()
        except Exception:
            pass
        end_process(self.process, 10)
        self.log.close()
        if not self.kept_profile:
            shutil.rmtree(self.profile, ignore_errors=True)


class Firefox:
    """Headless Firefox ESR over WebDriver BiDi on its remote-debugging
    port: a user context a test, a browsing context a tab. `preferences`
    go into the profile before it starts (every window private, say);
    `profile`: the caller's, kept afterwards."""
    name = "firefox"
    records_problems_itself = False
    hides_tabs = True

    def __init__(self, server, preferences=None, profile=None):
        self.server = server
        self.kept_profile = profile
        self.profile = profile or tempfile.mkdtemp(prefix="talvo-firefox-")
        with open(os.path.join(self.profile, "user.js"), "w") as f:
            for key, value in dict({"browser.shell.checkDefaultBrowser": False, "browser.startup.page": 0,
                               "datareporting.policy.dataSubmissionEnabled": False,
                               "toolkit.telemetry.reportingpolicy.firstRun": False,
                               "browser.aboutwelcome.enabled": False, "app.update.disabledForTesting": True,
                               "browser.tabs.warnOnClose": False, "network.captive-portal-service.enabled": False,
                               "browser.download.dir": os.path.join(self.profile, "downloads"),
                               "remote.prefs.recommended": True}, **(preferences or {})).items():
                f.write("user_pref(%s, %s);\n" % (json.dumps(key), json.dumps(value)))
        self.log = open(os.path.join(self.profile, "firefox.log"), "w+")
        port = free_port()
        self.process = subprocess.Popen(
            ["firefox-esr", "--headless", "--no-remote", "--profile", self.profile, "--window-size=1024,900",
             "--remote-debugging-port=%d" % port, "about:blank"],
            stdout=self.log, stderr=self.log, env=dict(os.environ, MOZ_CRASHREPORTER_DISABLE="1"))

        def connected():
            if self.process.poll() is not None:
                raise RuntimeError("firefox ended; see " + self.log.name)
            try:
                return websocket.create_connection("ws://127.0.0.1:%d/session" % port, timeout=30, suppress_origin=True)
            except (OSError, websocket.WebSocketException):
                return None
        self.socket = wait_until("firefox's WebDriver BiDi port", connected, timeout=60, every=0.3)
        self.last_id = 0
        self.events = []
        self.call("session.new", capabilities={"alwaysMatch": {"acceptInsecureCerts": True}})
        self.call("session.subscribe", events=["log.entryAdded", "browsingContext.contextDestroyed"])

    def call(self, method, timeout=30.0, **params):
        self.last_id += 1
        self.socket.send(json.dumps({"id": self.last_id, "method": method, "params": params}))
        end = time.monotonic() + timeout
        while True:
            reply = self._receive(end, method)
            if reply.get("id") == self.last_id:
                if reply.get("type") == "error" or "error" in reply and reply.get("type") != "success":
                    raise RuntimeError("%s: %s %s" % (method, reply.get("error"), reply.get("message")))
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
        if message.get("type") == "event":
            self.events.append(message)
        return message

    def new_context(self):
        self.events.clear()
        return self.call("browser.createUserContext")["userContext"]

    def dispose_context(self, context):
        self.call("browser.removeUserContext", userContext=context)

    def open_tab(self, context, url):
        tab = self.call("browsingContext.create", type="tab", userContext=context or "default")["context"]
        self.navigate(tab, url)
        return tab

    def navigate(self, tab, url):
        self.call("browsingContext.navigate", context=tab, url=url, wait="none")

    def close_tab(self, tab):
        self.call("browsingContext.close", context=tab)

    def js(self, tab, expression):
        wrapped = "(async () => { const v = await (%s); return v === undefined ? 'null' : JSON.stringify(v); })()" % expression
        reply = self.call("script.evaluate", expression=wrapped, target={"context": tab}, awaitPromise=True,
                          resultOwnership="none")
        if reply.get("type") == "exception":
            details = reply["exceptionDetails"]
            raise RuntimeError("page script failed: %s" % details.get("text"))
        return json.loads(reply["result"]["value"])

    def pointer(self, tab, steps):
        actions = []
        for kind, x, y, button in steps:
            actions.append({"type": "pointerMove", "x": math.floor(x), "y": math.floor(y), "origin": "viewport",
                            "duration": 0})
            if kind != "move":
                actions.append({"type": "pointerDown" if kind == "down" else "pointerUp",
                                "button": {"left": 0, "right": 2}[button]})
        self.call("input.performActions", context=tab,
                  actions=[{"type": "pointer", "id": "mouse", "parameters": {"pointerType": "mouse"}, "actions": actions}])

    def key(self, tab, held, key):
        mods = [{"alt": "\ue00a", "ctrl": "\ue009", "meta": "\ue03d", "shift": "\ue008"}[m] for m in held]
        key = NAMED_KEYS.get(key, (key,))[0]
        actions = ([{"type": "keyDown", "value": m} for m in mods] + [{"type": "keyDown", "value": key},
                   {"type": "keyUp", "value": key}] + [{"type": "keyUp", "value": m} for m in reversed(mods)])
        self.call("input.performActions", context=tab, actions=[{"type": "key", "id": "keys", "actions": actions}])

    def activate(self, tab):
        self.call("browsingContext.activate", context=tab)

    def preload(self, tab, source):
        self.call("script.addPreloadScript", functionDeclaration="() => { %s }" % source, contexts=[tab])

    def drop_files(self, tab, paths, x, y):
        synthetic_drop(lambda e: self.js(tab, e), paths, x, y)

    def screenshot(self, tab):
        return base64.b64decode(self.call("browsingContext.captureScreenshot", context=tab)["data"])

    def problems(self, tab):
        problems, lines = [], []
        taken = [e for e in self.events if e["method"] == "log.entryAdded"
                 and e["params"].get("source", {}).get("context") in (tab, None)]
        self.events = [e for e in self.events if e not in taken]
        for event in taken:
            entry = event["params"]
            lines.append("%s %s: %s" % (entry.get("type"), entry.get("level"), entry.get("text")))
            if entry.get("level") == "error":
                problems.append(entry.get("text"))
        return problems, lines

    def close(self):
        try:
            self.call("session.end", timeout=5)
            self.socket.close()
        except Exception:
            pass
        end_process(self.process, 10)
        self.log.close()
        if not self.kept_profile:
            shutil.rmtree(self.profile, ignore_errors=True)


def synthetic_drop(js, paths, x, y):
    """Drops files on the element at page point (x, y) by a drop event that
    carries them, as a file manager's drop does."""
    files = []
    for path in paths:
        with open(path, "rb") as f:
            files.append([os.path.basename(path), base64.b64encode(f.read()).decode()])
    js("""(() => {
        const transfer = new DataTransfer();
        for (const [name, text] of %s) {
            const raw = atob(text), bytes = new Uint8Array(raw.length);
            for (let i = 0; i < raw.length; ++i) bytes[i] = raw.charCodeAt(i);
            transfer.items.add(new File([bytes], name));
        }
        const target = document.elementFromPoint(%f, %f) || document.body;
        for (const type of ["dragenter", "dragover", "drop"])
            target.dispatchEvent(new DragEvent(type, {bubbles: true, cancelable: true, dataTransfer: transfer,
                                                      clientX: %f, clientY: %f}));
        return true;
    })()""" % (json.dumps(files), x, y, x, y))


class WebKit:
    """WebKitGTK's MiniBrowser through WebKitWebDriver and Selenium, on a
    private Xvfb display: a WebDriver session (a browser of its own, with
    storage of its own) a test, a window a tab. The page records its own
    errors (RECORDER), which this protocol does not report."""
    name = "webkit"
    records_problems_itself = True
    hides_tabs = False

    def __init__(self, server):
        import x11
        self.server = server
        self.display = x11.Display("1024x900")
        os.environ["DISPLAY"] = self.display.name  # for the WebKitWebDriver each session starts
        self.browser_path = glob.glob("/usr/lib/*/webkit2gtk-4.*/MiniBrowser")[0]
        self.sessions = {}

    def new_context(self):
        from selenium import webdriver
        options = webdriver.WebKitGTKOptions()
        options.binary_location = self.browser_path
        options.add_argument("--automation")
        session = webdriver.WebKitGTK(options=options)
        session.set_script_timeout(60)
        session.set_window_rect(0, 0, 1024, 900)
        # The first window stays open for the session's life: closing the
        # last one would end the session, and with it the site's storage.
        self.sessions[session.current_window_handle] = session
        return session

    def dispose_context(self, session):
        for key in [k for k, s in self.sessions.items() if s is session]:
            del self.sessions[key]
        session.quit()

    def _session(self, tab):
        session = self.sessions[tab]
        if session.current_window_handle != tab:
            session.switch_to.window(tab)
        return session

    def open_tab(self, session, url):
        session.switch_to.new_window("window")
        tab = session.current_window_handle
        self.sessions[tab] = session
        session.get(url)
        return tab

    def navigate(self, tab, url):
        self._session(tab).get(url)

    def close_tab(self, tab):
        session = self._session(tab)
        session.close()
        del self.sessions[tab]
        home = [t for t, s in self.sessions.items() if s is session][0]
        session.switch_to.window(home)

    def js(self, tab, expression):
        reply = self._session(tab).execute_async_script("""const done = arguments[arguments.length - 1];
            Promise.resolve().then(() => (%s)).then(v => done(JSON.stringify({value: v === undefined ? null : v})),
                                                     e => done(JSON.stringify({error: String(e && e.stack || e)})));""" % expression)
        reply = json.loads(reply)
        if "error" in reply:
            raise RuntimeError("page script failed: %s" % reply["error"])
        return reply["value"]

    def pointer(self, tab, steps):
        from selenium.webdriver.common.actions import interaction
        from selenium.webdriver.common.actions.action_builder import ActionBuilder
        from selenium.webdriver.common.actions.pointer_input import PointerInput
        actions = ActionBuilder(self._session(tab), mouse=PointerInput(interaction.POINTER_MOUSE, "mouse"), duration=0)
        for kind, x, y, button in steps:
            actions.pointer_action.move_to_location(math.floor(x), math.floor(y))
            if kind != "move":
                code = {"left": 0, "right": 2}[button]
                (actions.pointer_action.pointer_down if kind == "down" else actions.pointer_action.pointer_up)(code)
        actions.perform()

    def key(self, tab, held, key):
        from selenium.webdriver.common.action_chains import ActionChains
        from selenium.webdriver.common.keys import Keys
        mods = [{"alt": Keys.ALT, "ctrl": Keys.CONTROL, "meta": Keys.META, "shift": Keys.SHIFT}[m] for m in held]
        chain = ActionChains(self._session(tab))
        for m in mods:
            chain.key_down(m)
        chain.send_keys(NAMED_KEYS.get(key, (key,))[0])
        for m in reversed(mods):
            chain.key_up(m)
        chain.perform()

    # WebDriver has no way to run a script before the page's own.
    preload = None

    def drop_files(self, tab, paths, x, y):
        synthetic_drop(lambda e: self.js(tab, e), paths, x, y)

    def screenshot(self, tab):
        return self._session(tab).get_screenshot_as_png()

    def problems(self, tab):
        problems = self.js(tab, "window.talvoProblems ? talvoProblems.splice(0) : []")
        return problems, list(problems)

    def close(self):
        for session in set(self.sessions.values()):
            try:
                session.quit()
            except Exception:
                pass
        self.sessions = {}
        if self.display:
            self.display.close()
            self.display = None


ENGINES = {"chromium": Chromium, "firefox": Firefox, "webkit": WebKit}


class Browser:
    """The page's server and the engine's browser, started once for all
    tests."""
    shared = None

    @classmethod
    def get(cls):
        if cls.shared is None:
            if not os.path.exists(os.path.join(PAGE, "index.html")):
                raise RuntimeError("no page in %s: build it with scripts/setup web" % PAGE)
            cls.shared = Browser()
            atexit.register(cls.shared.close)
        return cls.shared

    def __init__(self):
        self.server = Server(recorder=ENGINES[ENGINE].records_problems_itself)
        self.origin = self.server.origin
        self.engine = ENGINES[ENGINE](self.server)

    def close(self):
        self.engine.close()
        self.server.stop()


class OwnBrowser:
    """A browser of a test's own (Chromium unless `engine` says Firefox) on a
    profile it keeps, whose site is the page on `port` (0: any): what the
    browser keeps on disk, as a person's browser does, comes back when it
    starts again on that profile. `options` go to the engine."""

    def __init__(self, profile, port=0, engine=None, **options):
        self.server = Server(port=port)
        self.origin = self.server.origin
        self.engine = (engine or Chromium)(self.server, profile=profile, **options)

    def close(self):
        self.engine.close()
        self.server.stop()


class Driver(driver.Driver):
    def __init__(self, browser=None):
        """On `browser` (an OwnBrowser), the pages are in the browser's own
        context; by default in one of each test's own."""
        self.persistent = browser is not None
        self.browser = browser or Browser.get()
        self.engine = self.browser.engine
        self.context = None
        self.tab = None
        self.folder = None
        self.dropped = {}
        self.problems = []
        self.console = []
        # The browser's languages the next pages get (speak()); None: its own.
        self.languages = None

    # --- what Chromium's own checks reach past the engine for

    @property
    def tools(self):
        return self.engine.tools

    @property
    def session(self):
        return self.tab[1] if self.tab else None

    def call(self, method, **params):
        return self.engine.tools.call(method, session=self.session, **params)

    # --- pages

    def _open(self, path):
        """A new tab of this test's context at `path` of the site."""
        self.tab = self.engine.open_tab(self.context, self.browser.origin + path)
        self._loaded(path)

    def _loaded(self, path):
        wait_until("the page " + path, lambda: self.js(
            "location.pathname == %s && document.readyState == 'complete'" % json.dumps(path)), timeout=30)

    def _close_page(self):
        if not self.tab:
            return
        self._collect()
        tab, self.tab = self.tab, None
        self.engine.close_tab(tab)

    def js(self, expression):
        return self.engine.js(self.tab, expression)

    def _collect(self):
        """Keeps the page's uncaught errors and console lines."""
        if not self.tab:
            return
        problems, lines = self.engine.problems(self.tab)
        self.problems += problems
        self.console += lines

    def _storage(self):
        """The site's stored files, {name: bytes}, and the scene it shows last."""
        stored = self.js(in_store("""
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
            return JSON.stringify({files: out, current: (journal && journal.current) || current || null});"""))
        items = json.loads(stored)
        return {k: base64.b64decode(v) for k, v in items["files"].items()}, items["current"]

    def _store(self, files):
        """Puts files {name: bytes} into the site's folder."""
        data = {name: base64.b64encode(b).decode() for name, b in files.items()}
        self.js(in_store("""
            const db = await talvoStore();
            const tx = db.transaction("files", "readwrite");
            for (const [name, text] of Object.entries(%s)) {
                const raw = atob(text), bytes = new Uint8Array(raw.length);
                for (let i = 0; i < raw.length; ++i) bytes[i] = raw.charCodeAt(i);
                tx.objectStore("files").put(bytes, name);
            }
            await talvoCommitted(tx);
            db.close();
            return true;""" % json.dumps(data)))

    def _forget_current(self):
        self.js(in_store("""
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
            return true;"""))

    def showing(self):
        return self.js("typeof Module == 'object' && Module.calledRun === true && _WebPresentCount() > 0")

    def _show(self, args):
        query = "?" + urllib.parse.urlencode([("arg", a) for a in args]) if args else ""
        if self.languages:
            # The browser's languages as its settings would give them.
            self.engine.preload(self.tab, "Object.defineProperty(Navigator.prototype, 'languages', { get: () => %s });"
                                "Object.defineProperty(Navigator.prototype, 'language', { get: () => %s });"
                                % (json.dumps(self.languages), json.dumps(self.languages[0])))
        self.engine.navigate(self.tab, self.browser.origin + "/index.html" + query)
        wait_until("the page to show the program",
                   lambda: self.js("location.pathname == '/index.html'") and self.showing(), timeout=30)

    def new_context(self):
        """A context of its own for this test: empty site storage."""
        self._end_context()
        self.context = None if self.persistent else self.engine.new_context()

    # --- the driver contract

    def start(self, folder, args=()):
        self.new_context()
        self.folder = folder
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

    def speak(self, language):
        if not self.engine.preload:
            return False
        # As a browser set to that language lists them, English after it.
        tag = {"de": "de-DE", "fr": "fr-FR", "es": "es-ES", "ja": "ja-JP", "zh_CN": "zh-CN", "it": "it-IT"}[language]
        self.languages = [tag, tag.split("-")[0], "en-US", "en"]
        return True

    def menu(self):
        """The menu the menu button controls, from its roles and marks."""
        return self.js("""(() => {
            const button = document.querySelector("button[aria-haspopup=menu]");
            const lines = [];
            const walk = (list, indent) => {
                for (const entry of list.children) {
                    const role = entry.getAttribute("role");
                    if (entry.hidden) continue;
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

    def centre(self, selector, what):
        point = wait_until(what, lambda: self.js("""(() => {
            const e = document.querySelector(%s);
            if (!e || e.offsetParent === null) return null;
            const r = e.getBoundingClientRect();
            return [r.left + r.width / 2, r.top + r.height / 2];
        })()""" % json.dumps(selector)), timeout=30)
        return point[0], point[1]

    def click(self, x, y, button="left"):
        self.engine.pointer(self.tab, [("move", x, y, None), ("down", x, y, button), ("up", x, y, button)])

    def click_element(self, selector, what):
        self.click(*self.centre(selector, what))

    def wait_idle(self):
        wait_until("the program to take the input", lambda: self.js("_WebIdle()"), timeout=30, every=0.02)

    def menu_item(self, label):
        """The page position of a menu item shown now: the deepest open list
        first, since several popups have a "Normal"."""
        point = wait_until("the menu item " + label, lambda: self.js("""(() => {
            const open = [...document.querySelectorAll("[role=menu]")].filter(l => l.offsetParent !== null);
            for (const list of open.reverse())
                for (const item of list.querySelectorAll(":scope > [role^=menuitem], :scope > li > [role^=menuitem]"))
                    if (item.textContent === %s) {
                        item.scrollIntoView({block: "nearest"});
                        const r = item.getBoundingClientRect();
                        return [r.left + r.width / 2, r.top + r.height / 2];
                    }
            return null;
        })()""" % json.dumps(label)), timeout=30)
        return point[0], point[1]

    def choose(self, path):
        if self.js("document.getElementById('menu-button').getAttribute('aria-expanded')") != "true":
            self.click_element("#menu-button", "the menu button")
        for label in path.split("/"):
            self.click(*self.menu_item(label))
        self.wait_idle()

    def field_point(self, x, y):
        """The page position of the middle of field cell (x, y)."""
        left, top, scale = self.js("""(() => {
            const r = document.getElementById("field").getBoundingClientRect();
            return [r.left, r.top, r.width / %d];
        })()""" % WIDTH)
        return left + (x + 0.5) * scale, top + (y + 0.5) * scale

    def _field_box(self):
        """The field's page position, its size and the device pixels of a
        CSS pixel."""
        return self.js("""(() => {
            const r = document.getElementById("field").getBoundingClientRect();
            return [r.left, r.top, r.width, r.height, window.devicePixelRatio || 1];
        })()""")

    def field_size(self):
        _, _, width, height, ratio = self._field_box()
        return round(width * ratio), round(height * ratio)

    def field_pixels(self):
        # Scrolled so that the whole field is in the browser's picture.
        self.js("document.getElementById('field').scrollIntoView({block: 'nearest', inline: 'nearest'}), true")
        left, top, width, height, ratio = self._field_box()
        crop = "%dx%d+%d+%d" % (round(width * ratio), round(height * ratio), round(left * ratio), round(top * ratio))
        return subprocess.run(["convert", "png:-", "-crop", crop, "-depth", "8", "rgb:-"],
                              input=self.engine.screenshot(self.tab), check=True, capture_output=True).stdout

    def pixel_drag(self, points, button="left", held=()):
        left, top, _, _, ratio = self._field_box()
        # The middle of each device pixel.
        spots = [(left + (x + 0.5) / ratio, top + (y + 0.5) / ratio) for x, y in points]
        self._pointer_steps(spots, button, held, None)

    zoom_keys = False

    def zoom_key(self, combo):
        """The browser keeps Ctrl+plus, Ctrl+minus and Ctrl+0 for its own
        zoom: the page's zoom item takes the same step (from fit, as from 1x)."""
        now = int(self.js("document.querySelector('[data-zoom][aria-pressed=true]').dataset.zoom"))
        step = max(now, 1)
        choice = {"ctrl+plus": min(step + 1, 4), "ctrl+equal": min(step + 1, 4), "ctrl+minus": max(step - 1, 1),
                  "ctrl+0": 1}[combo]
        # Below a large field the item may be out of sight: a person scrolls to it.
        self.js("document.querySelector('[data-zoom=\"%d\"]').scrollIntoView({block: 'nearest'}), true" % choice)
        self.click_element('[data-zoom="%d"]' % choice, "the zoom item %dx" % choice)
        self.wait_idle()

    def drag(self, points, button="left", held=(), during=None):
        self._pointer_steps([self.field_point(x, y) for x, y in points], button, held, during)

    def _pointer_steps(self, spots, button, held, during):
        first, last = spots[0], spots[-1]
        steps = [("move", first[0], first[1], None), ("down", first[0], first[1], button)] + \
            [("move", x, y, button) for x, y in spots[1:]] + [("up", last[0], last[1], button)]
        parts = [steps[:-1], steps[-1:]] if during else [steps]
        for number, part in enumerate(parts):
            if number:
                during()
            if held:
                assert ENGINE == "chromium", "keys held with a drag need Chromium's protocol"
                self.engine.pointer(self.tab, part, held)
            else:
                self.engine.pointer(self.tab, part)
        self.wait_idle()

    # xdotool's names of the keys the pen takes: the page's key, its place,
    # the Windows key code, what it types.
    HELD_KEYS = {"space": (" ", "Space", 32, " "), "Delete": ("Delete", "Delete", 46, None),
                 "Right": ("ArrowRight", "ArrowRight", 39, None), "Left": ("ArrowLeft", "ArrowLeft", 37, None),
                 "Down": ("ArrowDown", "ArrowDown", 40, None), "Up": ("ArrowUp", "ArrowUp", 38, None),
                 "period": (".", "Period", 190, ".")}

    def _key_event(self, kind, name, held):
        key, code, number, typed = self.HELD_KEYS[name]
        modifiers = sum({"ctrl": 2, "shift": 8}[m] for m in held)
        params = dict(key=key, code=code, windowsVirtualKeyCode=number, modifiers=modifiers)
        if kind == "keyDown" and typed:
            params["text"] = typed
        elif kind == "keyDown":
            kind = "rawKeyDown"
        self.call("Input.dispatchKeyEvent", type=kind, **params)

    def key_down(self, name, held=()):
        assert ENGINE == "chromium", "keys held down need Chromium's protocol"
        self.js("document.activeElement.id == 'field' || document.getElementById('field').focus(), true")
        self._key_event("keyDown", name, held)
        self.wait_idle()

    def key_up(self, name):
        self._key_event("keyUp", name, ())
        self.wait_idle()

    def about_is_open(self):
        return self.js("!document.getElementById('about').hidden")

    def about_ok(self):
        self.click_element("#about-ok", "the About dialog's OK button")

    # The page cannot choose the keyboard's layout: its keys' labels are
    # the browser's layout map where it has one, the Latin letters else.
    key_labels = False

    def keys_list(self):
        return self.js("document.getElementById('keys').hidden ? null : Array.from("
                       "document.querySelectorAll('#keys-list tr'), r => Array.from(r.cells, c => c.textContent).join('\\t'))")

    def keys_button(self):
        self.choose("Keys (F1)")
        return True

    def close_keys_list(self):
        self.js("document.getElementById('keys-ok').focus(), true")
        self.engine.key(self.tab, [], "Escape")
        self.wait_idle()

    def drop(self, path):
        self.drop_files([path])

    def drop_files(self, paths):
        self.dropped.update({os.path.basename(p): p for p in paths})
        self.engine.drop_files(self.tab, paths, *self.field_point(WIDTH // 2, HEIGHT // 2))

    def key(self, combo):
        """Keys on the field: 'ctrl+c', 'ctrl+shift+z'. The field gets the
        focus as by the Tab key: a click on it can draw (WebKit's driver
        moves the pointer between press and release), which undo would take."""
        self.js("document.getElementById('field').focus(), true")
        *held, key = combo.split("+")
        self.engine.key(self.tab, held, key)
        self.wait_idle()

    def layouts(self):
        # Chromium's protocol alone gives a key event both the letter it
        # types and the key's place.
        return list(LAYOUT_KEYS) if ENGINE == "chromium" else []

    def key_on_layout(self, layout, held, letter):
        self.js("document.getElementById('field').focus(), true")
        typed, place, _ = LAYOUT_KEYS[layout][letter]
        modifiers = sum({"alt": 1, "ctrl": 2, "shift": 8}[m] for m in held.split("+") if m)
        for kind in ("keyDown", "keyUp"):
            self.call("Input.dispatchKeyEvent", type=kind, modifiers=modifiers, key=typed, code=place,
                      windowsVirtualKeyCode=ord(place[-1]))
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

    def save_file(self, key, path):
        """The page saves by a download, named by the program; None where
        the engine's protocol cannot take downloads."""
        if not hasattr(self.engine, "allow_downloads"):
            return None
        downloads = tempfile.mkdtemp(prefix="talvo-downloads-")
        try:
            self.engine.allow_downloads(self.context, downloads)
            self.key(key)
            found = wait_until("the download", lambda: [n for n in os.listdir(downloads)
                                                       if not n.endswith((".crdownload", ".part"))], 120)
            shutil.move(os.path.join(downloads, found[0]), path)
        finally:
            shutil.rmtree(downloads, ignore_errors=True)
        return True

    def start_refused(self, folder):
        if not self.engine.preload:
            return None
        self.new_context()
        self.folder = folder
        self._open(BLANK)
        self.engine.preload(self.tab, "window.Module = { preRun: [() => { ENV.TALVO_TEST_NO_SURFACE = '1'; }] };")
        self.engine.navigate(self.tab, self.browser.origin + "/index.html")
        status = wait_until("the page to say that Talvo ended", lambda: (lambda t: "ended" in t and t)(
            self.js("(document.getElementById('status') || {}).textContent || ''")), timeout=60)
        assert "ERROR" in self.js("document.getElementById('message').textContent"), "no error shown"
        self.problems = [p for p in self.problems if "ERROR" not in p]
        code = status.partition("(code ")[2].partition(")")[0]
        return int(code) if code else 0

    def note_shown(self):
        return self.js("!document.getElementById('note').hidden")

    def note_text(self):
        return self.js("document.getElementById('note').hidden ? null : document.getElementById('note-text').textContent")

    def progress(self):
        return self.js("document.getElementById('progress').hidden ? null"
                       " : document.getElementById('progress-bar').value / 1000")

    def cancel_progress(self):
        self.click_element("#progress-cancel", "the progress's Cancel")

    def button_enabled(self, name):
        return self.js("!Array.from(document.querySelectorAll('#controls button'))"
                       ".find(b => b.textContent == %s).disabled" % json.dumps(name))

    def talvo_sim(self):
        return ["node", os.path.join(PAGE, "talvo-sim.js")], os.environ

    # The program stopping of itself (WebTestFault in web_platform.cpp), and
    # what the page then says it was.
    FAULTS = {"the program ran out of memory": (1, "out of memory"),
              "the program trapped": (2, "a fault in the program"),
              "the program threw an exception": (3, "an error it did not handle")}

    def kills(self):
        # Chromium's protocol alone crashes a tab; any page can be made to fail.
        return (["the tab crashed", "the browser killed"] if ENGINE == "chromium" else []) + list(self.FAULTS)

    def for_kill(self, how):
        if how != "the browser killed":
            return self
        # A browser of its own, whose profile keeps the site's storage on
        # disk as a person's does.
        profile = tempfile.mkdtemp(prefix="talvo-profile-")
        own = Driver(OwnBrowser(profile))
        own.profile = profile
        return own

    def own_browser(self, **options):
        """Goes on in a browser of its own on a profile of its own, in that
        browser's own context: a normal window, not a private one. `options`
        go to OwnBrowser; stop() ends it."""
        self.stop()
        self.profile = tempfile.mkdtemp(prefix="talvo-profile-")
        self.own_options = options
        self.browser = OwnBrowser(self.profile, **options)
        self.engine = self.browser.engine
        self.persistent = True

    def restart_browser(self):
        """The browser of its own started again on its profile, with the site
        on the same port: what it kept on disk comes back."""
        port = self.browser.server.port
        self.browser.close()
        self.browser = OwnBrowser(self.profile, port, **getattr(self, "own_options", {}))
        self.engine = self.browser.engine
        self.tab = None

    def kill(self, how):
        if how in self.FAULTS:
            kind, told = self.FAULTS[how]
            self.js("talvoPage.fault(%d), true" % kind)
            wait_until("the page to say that Talvo stopped", lambda: "Talvo stopped: " + told in self.js(
                "document.getElementById('message').textContent"), 60)
            # Out of memory only at the limit, where memory grew to from 16 MiB.
            assert kind != 1 or self.js("HEAPU8.length") == 256 << 20, "memory stopped growing early"
            # Left as a person leaves it to reload it: the page goes, and
            # must not end the session cleanly as it goes.
            self.engine.navigate(self.tab, self.browser.origin + BLANK)
            self._loaded(BLANK)
            self._close_page()
        elif how == "the tab crashed":
            try:
                self.tools.call("Page.crash", session=self.session, timeout=5)
            except (AssertionError, RuntimeError):
                pass  # the page is gone before it answers
            self.engine.close_tab(self.tab)
        else:
            self.engine.process.kill()
            self.engine.process.wait()
            self.restart_browser()
        self.tab = None
        self.problems = []

    def _stored(self):
        """The site's stored files, from a page of the site opened for it
        where none is open."""
        if self.tab:
            return self._storage()[0]
        self._open(BLANK)
        try:
            return self._storage()[0]
        finally:
            self._close_page()

    def journals(self):
        kept = {}
        for name, data in self._stored().items():
            found = re.match(r"(.*/journal/[^/]+)/([0-9A-F]{8}\.seg)$", name)
            if found:
                kept.setdefault(found.group(1), {})[found.group(2)] = data
        return list(kept.values())

    def journal_of(self, folder, name):
        # The site is the one folder.
        return journal.of_scene(self.journals(), name)

    def scene_bytes(self, folder, name):
        files = self._stored()
        return files.get(name, files.get("dropped/" + name))

    def close(self):
        """Closes the page, which saves the scene as it goes, then copies what
        the site keeps into the test's folder (a dropped scene back over the
        file dropped)."""
        self._leave(self._close_page)

    def repaint(self):
        """Another tab in front, then this one again; False where the engine
        does not hide a page behind another tab."""
        if not self.engine.hides_tabs:
            return False
        other = self.engine.open_tab(self.context, "about:blank")
        wait_until("the page to be hidden", lambda: self.js("document.visibilityState") == "hidden")
        self.engine.close_tab(other)
        self.engine.activate(self.tab)
        wait_until("the page to show again", lambda: self.js("document.visibilityState") == "visible")

    def session_ends(self):
        return ["the page left for another"]

    def end_session(self, how):
        def away():
            self.engine.navigate(self.tab, self.browser.origin + BLANK)
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
        # browser, what a closed page wrote once did not show within 10 s, and
        # with the builds beside Firefox at "No wait" (some 5 MB of journal
        # read back each time) not within 60 s.
        files, current = wait_until("the scene the page kept as it went",
                                    lambda: (lambda s: s[1] in s[0] and s)(self._storage()), timeout=180)
        self._close_page()
        for name, data in files.items():
            target = self.dropped.get(os.path.basename(name)) if name.startswith("dropped/") else None
            target = target or os.path.join(self.folder, name)
            os.makedirs(os.path.dirname(target), exist_ok=True)
            with open(target, "wb") as f:
                f.write(data)

    def _end_context(self):
        try:
            self._collect()
        except Exception:
            pass
        if self.context:
            try:
                self.engine.dispose_context(self.context)
            except Exception:
                pass
        self.context = self.tab = None

    def stop(self):
        self._end_context()
        if getattr(self, "profile", None):
            self.browser.close()
            shutil.rmtree(self.profile, ignore_errors=True)
            self.profile = None

    def screenshot(self, path):
        with open(path, "wb") as f:
            f.write(self.engine.screenshot(self.tab))

    def evidence(self, name):
        os.makedirs(EVIDENCE, exist_ok=True)
        base = os.path.join(EVIDENCE, name)
        try:
            self._collect()
            if self.tab:
                self.screenshot(base + ".png")
        except Exception as error:
            self.console.append("no screenshot: %s" % error)
        with open(base + ".log", "w") as f:
            f.write("\n".join(self.console + ["problem: %s" % p for p in self.problems]) + "\n")
        print("evidence: %s.png and %s.log" % (base, base))
