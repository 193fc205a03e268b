"""The page's part of what a player meets when saving takes a while: the
animation's progress with its Cancel and the field as it was, made without
the program's memory holding the whole file; Undo and Redo greyed out with
nothing to do (the flow shared with the desktop windows)."""
import os
import shutil
import subprocess
import tempfile
import time

import behaviour
import saves_checks
from behaviour import WALL, moving, shows_cells, wait_until


def _downloads(d, folder):
    return [n for n in os.listdir(folder) if not n.endswith((".crdownload", ".part"))]


def test_the_animation_shows_its_progress_on_the_page_and_a_cancel_stops_it(d, folder):
    if not hasattr(d.engine, "allow_downloads"):
        return "skipped: this engine's protocol takes no downloads"
    downloads = tempfile.mkdtemp(prefix="talvo-downloads-")
    try:
        d.start(folder)
        d.engine.allow_downloads(d.context, downloads)
        d.choose("Speed/No wait")
        time.sleep(12)
        d.drag(behaviour.horizontal_stroke(330, 60, 219))
        picture = wait_until("the stroke's last stamp", lambda: (lambda p: p if behaviour.stroke_is_wall(
            p, 330, 218, 220) else None)(d.shot()))
        shown = {cell for cell in behaviour.stroke_cells(330, 60, 220) if picture.at(*cell) == WALL}
        heap = d.js("_WebHeapTop()")
        d.key("g")
        wait_until("the progress", lambda: d.progress() is not None, 60)
        first = d.shot()
        assert shows_cells(first, shown), "the newest stroke is not on the page while the animation is made"
        time.sleep(1.5)
        later = d.progress()
        assert later is not None, "the animation was done before it could be cancelled"
        assert d.shot() == first, "the page showed another picture than the field as it was"
        d.cancel_progress()
        wait_until("the progress to go", lambda: d.progress() is None, 30)
        d.wait_idle()
        assert not _downloads(d, downloads), "a cancelled animation was downloaded"
        moving(d)
        d.key("g")
        found = wait_until("the animation's download", lambda: _downloads(d, downloads), 240, every=0.5)
        path = os.path.join(downloads, found[0])
        # The browser may show the name before the last bytes are in.
        wait_until("the whole download", lambda: subprocess.run(["identify", path], capture_output=True).returncode == 0,
                   60)
        assert shows_cells(saves_checks.gif_last_frame(path), shown), "the animation does not end with the stroke"
        grown = d.js("_WebHeapTop()") - heap
        size = os.path.getsize(os.path.join(downloads, found[0]))
        assert grown < size, "the program's heap grew by %d bytes for a %d-byte animation" % (grown, size)
        d.close()
        return "cancelled at %d %%; a %d-byte animation grew the heap by %d bytes" % (100 * later, size, grown)
    finally:
        shutil.rmtree(downloads, ignore_errors=True)


TESTS = [(name, fn) for name, fn in list(globals().items()) if name.startswith("test_")] + \
    [("test_undo_and_redo_are_offered_only_with_something_to_do", saves_checks.test_undo_and_redo_are_offered_only_with_something_to_do)]
