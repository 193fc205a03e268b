#!/usr/bin/python3
"""What the page keeps in the browser over long play: headless Chromium on
a profile of its own, kept on disk as a person's is, one wall drawn at the
start and the sand left to pour at SPEED; every EVERY seconds, and once
more after the page has closed, the bytes and number of the site's
IndexedDB records (the journal's among them), the characters of its
localStorage (keys and values), the browser's estimate of the site's use
and the size of the profile's IndexedDB and Local Storage folders.
  bench/page_store.py [SECONDS [EVERY [SPEED]]]    (3600 300 "No wait")
Needs the page (scripts/setup web) and python3-websocket."""
import os
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "tests", "desktop"))
import web_driver  # noqa: E402
from behaviour import horizontal_stroke  # noqa: E402

KEPT = web_driver.in_store("""
    const db = await talvoStore();
    const out = {bytes: 0, records: 0, journal_bytes: 0, journal_records: 0};
    for (const name of db.objectStoreNames) {
        const store = db.transaction(name).objectStore(name);
        const [keys, values] = await Promise.all([talvoDone(store.getAllKeys()), talvoDone(store.getAll())]);
        keys.forEach((key, i) => {
            const v = values[i];
            const size = String(key).length + (v && v.byteLength !== undefined ? v.byteLength
                                               : v instanceof Blob ? v.size : JSON.stringify(v ?? null).length);
            out.bytes += size;
            out.records++;
            if (String(key).includes("/journal/")) { out.journal_bytes += size; out.journal_records++; }
        });
    }
    db.close();
    out.local_chars = 0;
    out.local_keys = localStorage.length;
    for (let i = 0; i < localStorage.length; ++i) {
        const key = localStorage.key(i);
        out.local_chars += key.length + localStorage.getItem(key).length;
    }
    out.estimate = (await navigator.storage.estimate()).usage || 0;
    return out;""")


def on_disk(profile, folder):
    path = os.path.join(profile, "Default", folder)
    if not os.path.isdir(path):
        return 0
    return int(subprocess.run(["du", "-sb", path], capture_output=True, text=True).stdout.split()[0])


def report(d, seconds):
    k = d.js(KEPT)
    print("page_store: %6.0f s  IndexedDB %9d bytes in %3d records (journal %9d bytes in %3d)  "
          "localStorage %7d chars in %d keys  estimate %9d bytes  on disk: IndexedDB %9d, Local Storage %7d" % (
              seconds, k["bytes"], k["records"], k["journal_bytes"], k["journal_records"], k["local_chars"],
              k["local_keys"], k["estimate"], on_disk(d.profile, "IndexedDB"), on_disk(d.profile, "Local Storage")),
          flush=True)


def main():
    seconds = float(sys.argv[1]) if len(sys.argv) > 1 else 3600
    every = float(sys.argv[2]) if len(sys.argv) > 2 else 300
    speed = sys.argv[3] if len(sys.argv) > 3 else "No wait"
    d = web_driver.Driver()
    folder = tempfile.mkdtemp(prefix="talvo-store-")
    try:
        d.own_browser()
        d.start(folder)
        d.choose("Speed/" + speed)
        d.drag(horizontal_stroke(200, 40, 290, 6))
        started = time.monotonic()
        report(d, 0)
        for n in range(1, int(seconds // every) + 1):
            time.sleep(max(0, started + n * every - time.monotonic()))
            report(d, time.monotonic() - started)
        played = time.monotonic() - started
        d.close()
        d._open(web_driver.BLANK)
        print("page_store: after the page closed:", flush=True)
        report(d, played)
        d._close_page()
    finally:
        d.stop()


if __name__ == "__main__":
    main()
