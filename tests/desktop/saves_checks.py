"""What a player meets when saving goes wrong or takes a while, on the
desktop windows (GTK, Wine): the animation's progress with its Cancel and
the field as it was; a scene that can be saved nowhere else offered in the
save dialog, and a refusal there ending with a failure; a journal that
cannot be kept told in the note, and told again once it works; Undo and
Redo offered only with something to do; pictures offered in the pictures
folder under names that replace nothing. Screens of what is checked go to
TALVO_SHOTS (a folder) where it is set."""
import os
import re
import shutil
import subprocess
import time

import behaviour
import journal
import mounts
from behaviour import WALL, WIDTH, HEIGHT, Picture, draw_stroke, make_scene, moving, scene_has_cells, shows_cells, \
    stroke_events, wait_until

MOMENT = re.compile(r"Talvo \d{4}-\d\d-\d\d \d\d-\d\d-\d\d( \(\d+\))?\.(png|gif)$")


def keep_screen(d, name):
    folder = os.environ.get("TALVO_SHOTS")
    if folder:
        os.makedirs(folder, exist_ok=True)
        d.keep_screen(os.path.join(folder, name + ".png"))


def gif_frame_count(path):
    info = subprocess.run(["gifsicle", "--info", path], check=True, capture_output=True, text=True).stdout
    return len(re.findall(r"^  \+ image #", info, re.M))


def gif_last_frame(path):
    """The animation's last picture as shown, every frame before it laid
    down (gifsicle streams; a whole minute coalesced by ImageMagick would
    pass its disk limit)."""
    last = subprocess.run(["gifsicle", "--unoptimize", path, "#-1"], check=True, capture_output=True).stdout
    rgb = subprocess.run(["convert", "gif:-", "-depth", "8", "rgb:-"], input=last, check=True,
                         capture_output=True).stdout
    assert len(rgb) == WIDTH * HEIGHT * 3, len(rgb)
    return Picture(rgb)


def test_the_animation_shows_its_progress_and_the_field_and_a_cancel_stops_it(d, folder):
    """At "No wait" a replay takes as long as the play did: time to see the
    progress, the field standing as it was with the newest stroke on it,
    and to cancel; a second G then runs to its end."""
    d.start(folder)
    d.choose("Speed/No wait")
    # Play worth some seconds of replay, then a stroke just before G.
    time.sleep(12)
    stroke = behaviour.horizontal_stroke(330, 60, 219)
    d.drag(stroke)
    picture = wait_until("the stroke's last stamp", lambda: (lambda p: p if behaviour.stroke_is_wall(p, 330, 218, 220)
                                                             else None)(d.shot()))
    shown = {cell for cell in behaviour.stroke_cells(330, 60, 220) if picture.at(*cell) == WALL}
    cancelled = os.path.join(folder, "cancelled.gif")
    d.key("g")
    d.answer_save(cancelled)
    wait_until("the progress", lambda: d.progress() is not None, 60)
    first = d.shot()
    keep_screen(d, "animation-progress")
    assert shows_cells(first, shown), "the newest stroke is not on the window while the animation is made"
    time.sleep(1.5)
    still = d.shot()
    later = d.progress()
    assert later is not None, "the animation was done before it could be cancelled"
    # Cancelled at once: a loaded machine's replay may be near its end.
    d.cancel_progress()
    assert still == first, "the window showed another picture than the field as it was"
    wait_until("the progress to go", lambda: d.progress() is None, 30)
    assert not os.path.exists(cancelled), "a cancelled animation was saved (cancelled at %d %%)" % (100 * later)
    assert not [n for n in os.listdir(folder) if n.startswith("~talvo")], "a part of it was left"
    moving(d)

    saved = os.path.join(folder, "saved.gif")
    d.key("g")
    d.answer_save(saved)
    wait_until("the animation saved", lambda: os.path.exists(saved), 240, every=0.5)
    wait_until("the progress to go", lambda: d.progress() is None, 30)
    frames = gif_frame_count(saved)
    assert frames > 100, frames
    assert shows_cells(gif_last_frame(saved), shown), "the animation does not end with the stroke"
    moving(d)
    d.close()
    return "cancelled at %d %%; %d frames saved" % (100 * later, frames)


def _refuse_or_place(d, folder, place):
    """A scene in a read-only folder, the data folder read-only too: the
    close says so and offers the save dialog. Returns the exit status."""
    scenes, data = os.path.join(folder, "scenes"), d.data_folder()
    os.makedirs(scenes, exist_ok=True)
    os.makedirs(data, exist_ok=True)
    make_scene(scenes, "s.talvo", "")
    before = open(os.path.join(scenes, "s.talvo"), "rb").read()
    with mounts.read_only(scenes, data):
        d.start(scenes, ["s.talvo"])
        # The read-only data folder keeps no journal either, and says so
        # first.
        wait_until("the note that the journal cannot be kept", d.note_shown, 60)
        d.dismiss_notes()
        d.choose("Speed/Slow")
        shown = draw_stroke(d, 330)
        d.request_close()
        wait_until("the error box", lambda: d.error_boxes() == 1, 60)
        text = d.error_text()
        if text is not None:
            assert "choose where to save it" in text and "no data folder" not in text.lower() or \
                "choose where to save it" in text, text
        keep_screen(d, "save-failed-%s" % ("placed" if place else "refused"))
        d.dismiss_error()
        wait_until("the save dialog", d.save_dialog_shown, 60)
        keep_screen(d, "save-dialog-%s" % ("placed" if place else "refused"))
        d.answer_save(place)
        code = d.ended(60)
    assert open(os.path.join(scenes, "s.talvo"), "rb").read() == before, "the read-only scene changed"
    return code, shown


def test_a_scene_with_nowhere_to_go_is_offered_in_the_save_dialog(d, folder):
    if not mounts.available():
        return "skipped: read-only folders need root here"
    out = os.path.join(folder, "elsewhere")
    os.mkdir(out)
    placed = os.path.join(out, "kept.talvo")
    code, shown = _refuse_or_place(d, folder, placed)
    assert code == 0, "ended with %d after the scene was saved where the user chose" % code
    assert scene_has_cells(placed, shown), "the scene saved where the user chose lacks the stroke"
    code, _ = _refuse_or_place(d, folder, None)
    assert code != 0, "ended with status 0 though the scene was lost"
    return "saved where chosen: status 0; refused: status %d" % code


def _note_says(d, words, number, timeout=30):
    """Waits for the note to hold the words; where a note cannot be read,
    for the number-th note of the run."""
    if d.note_text() is False:
        return wait_until("note %d (%s)" % (number, words), lambda: d.note_count() >= number, timeout)
    return wait_until("the note: " + words, lambda: words in (d.note_text() or ""), timeout)


def test_a_journal_that_cannot_be_kept_is_told_and_told_again_once_it_works(d, folder):
    """The journal's folder replaced by a file: the note says the journal
    cannot be kept, standard error names the system's cause; the file gone,
    the note says it is kept again, and a stroke drawn then is rebuilt after
    a kill."""
    data = d.data_folder()
    os.makedirs(data, exist_ok=True)
    shutil.rmtree(os.path.join(data, "journal"), ignore_errors=True)
    in_the_way = os.path.join(data, "journal")
    with open(in_the_way, "w") as f:
        f.write("not a folder")
    try:
        d.start(folder)
        d.choose("Speed/Slow")
        _note_says(d, "cannot keep the journal", 1)
        keep_screen(d, "journal-cannot-be-kept")
        wait_until("the cause on standard error", lambda: "talvo: the session journal cannot be kept (" in d.stderr(),
                   30)
        # The system's words for a file where the folder should be.
        assert re.search(r"cannot be kept \((Not a directory|path not found|Directory name invalid)", d.stderr(),
                         re.I), d.stderr()
    finally:
        # What comes after runs on the same data folder.
        if os.path.isfile(in_the_way):
            os.remove(in_the_way)
    _note_says(d, "keeps the journal of this session again", 2)
    shown = draw_stroke(d, 330)
    wait_until("the stroke in the journal",
               lambda: (lambda r: r and journal.holds(r, 0x202))(d.journal_of(folder, "Default.talvo")), 60)
    d.kill(d.kills()[0])
    d.restart(folder, "Default.talvo")
    wait_until("the note of the rebuild", d.note_shown, 60)
    wait_until("the rebuilt stroke", lambda: shows_cells(d.shot(), shown))
    d.close()


def test_a_read_only_data_folder_is_told(d, folder):
    if not mounts.available():
        return "skipped: read-only folders need root here"
    data = d.data_folder()
    os.makedirs(os.path.join(data, "journal"), exist_ok=True)
    with mounts.read_only(data):
        d.start(folder)
        _note_says(d, "(Read-only file system)", 1)
        # Wine says it in Windows' words.
        wait_until("the cause on standard error",
                   lambda: re.search(r"cannot be kept \((Read-only file system|Access denied)", d.stderr()), 30)
        d.close()


def test_a_full_data_disk_is_told_and_once_there_is_room_nothing_is_lost(d, folder):
    """On a 1 MB data disk filled by another file the journal stops, and
    says so; once the file goes it goes on, and a stroke drawn then is
    rebuilt after a kill."""
    if not mounts.available():
        return "skipped: a small disk needs root here"
    data = d.data_folder()
    os.makedirs(data, exist_ok=True)
    with mounts.small_disk(os.path.dirname(data), "1m"):
        d.start(folder)
        d.choose("Speed/Slow")
        moving(d)
        filler = os.path.join(os.path.dirname(data), "filler")
        subprocess.run(["dd", "if=/dev/zero", "of=" + filler, "bs=4k"], capture_output=True)
        draw_stroke(d, 300)
        _note_says(d, "(No space left on device)", 1)
        os.remove(filler)
        _note_says(d, "keeps the journal of this session again", 2)
        shown = draw_stroke(d, 330)
        wait_until("the stroke in the journal",
                   lambda: (lambda r: r and journal.holds(r, 0x202))(d.journal_of(folder, "Default.talvo")), 60)
        d.kill(d.kills()[0])
        d.restart(folder, "Default.talvo")
        wait_until("the note of the rebuild", d.note_shown, 60)
        wait_until("the rebuilt stroke", lambda: shows_cells(d.shot(), shown))
        d.close()


def test_undo_and_redo_are_offered_only_with_something_to_do(d, folder):
    d.start(folder)
    if d.button_enabled("Undo") is None:
        d.close()
        return "skipped: this window has no Undo and Redo buttons"
    state = lambda: (d.button_enabled("Undo"), d.button_enabled("Redo"))
    wait_until("nothing to undo or redo at the start", lambda: state() == (False, False))
    d.choose("Speed/Slow")
    draw_stroke(d, 330)
    wait_until("Undo offered after a stroke", lambda: state() == (True, False))
    d.key("ctrl+z")
    wait_until("Redo offered once the only stroke is undone", lambda: state() == (False, True))
    d.key("ctrl+y")
    wait_until("Undo offered again", lambda: state() == (True, False))
    d.close()


def test_pictures_go_to_the_pictures_folder_under_names_that_replace_none(d, folder):
    """P twice and G, each accepted as suggested: all three in the platform's
    pictures folder, none in the data folder, none replacing another."""
    pictures = d.pictures_folder(folder)
    # Under Wine the Pictures folder may be the user's own home: what was
    # there before is no part of this run.
    before = set(os.listdir(pictures)) if os.path.isdir(pictures) else set()

    def new():
        return sorted(n for n in os.listdir(pictures) if MOMENT.match(n) and n not in before)
    d.start(folder)
    d.choose("Speed/Slow")
    moving(d)
    made = []
    try:
        for key in ("p", "p", "g"):
            d.key(key)
            d.answer_save("")
            wait_until("a new file in %s" % pictures, lambda: len(new()) == len(made) + 1, 120)
            made = new()
        d.close()
    finally:
        for n in new():
            os.remove(os.path.join(pictures, n))
    assert len(set(made)) == 3 and sum(n.endswith(".gif") for n in made) == 1, made
    data = d.data_folder()
    stray = [n for _, _, files in os.walk(data) for n in files if n.endswith((".png", ".gif"))]
    assert not stray, stray
    return ", ".join(made)


TESTS = [(name, fn) for name, fn in list(globals().items()) if name.startswith("test_")]
