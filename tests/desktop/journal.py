"""The session journal read independently of the program: its segments,
records and checksums as the format lays them down, the input it kept
turned back into talvo-sim's scripted input, and what a rebuild from it must
give: the scene of an independent talvo-sim run of that input."""
import os
import re
import struct
import subprocess
import tempfile
import zlib

HEADER, CHECKPOINT, INPUT, TICK, SHOWN, SAVED, END = range(1, 8)
EVENTS = {0x200: "mousemove", 0x201: "lbuttondown", 0x202: "lbuttonup", 0x204: "rbuttondown", 0x205: "rbuttonup"}
SEGMENT = re.compile(r"(?:^|/)([0-9A-F]{8})\.seg$")
# A flush is due half a second of play after the last one and comes at the
# next frame's start, a frame counting at most 200 ms of play.
FLUSH_MS, LONGEST_FRAME_MS = 500, 200


def folders(data_home):
    """The journal folders in a data folder."""
    top = os.path.join(data_home, "talvo", "journal")
    return [os.path.join(top, f) for f in sorted(os.listdir(top)) if os.path.isdir(os.path.join(top, f))] \
        if os.path.isdir(top) else []


def segments_in(folder):
    """{segment name: bytes} of a journal folder."""
    found = {}
    for name in os.listdir(folder):
        if SEGMENT.search(name):
            with open(os.path.join(folder, name), "rb") as f:
                found[name] = f.read()
    return found


def parse(segments):
    """The records of segments {name: bytes}, in order, as dicts; a record
    cut short or with a wrong checksum ends the reading."""
    records = []
    for name in sorted(segments, key=lambda n: SEGMENT.search(n).group(1)):
        data = segments[name]
        assert data.startswith(b"TALVO journal "), name
        at = data.index(b"\n") + 1
        while at + 9 <= len(data):
            kind, length = data[at], int.from_bytes(data[at + 1:at + 5], "little")
            end = at + 5 + length
            if end + 4 > len(data) or zlib.crc32(data[at:end]) != int.from_bytes(data[end:end + 4], "little"):
                return records
            payload = data[at + 5:end]
            frame, play = struct.unpack_from("<QQ", payload)
            record = {"type": kind, "frame": frame, "play": play}
            if kind == HEADER:
                record["utc"], _, record["seed"], size = struct.unpack_from("<QQII", payload, 16)
                record["path"] = payload[40:40 + size].decode("utf-8", "replace")
            elif kind == CHECKPOINT:
                record["utc"], _, size = struct.unpack_from("<QQI", payload, 16)
                record["path"] = payload[36:36 + size].decode("utf-8", "replace")
            elif kind == TICK:
                record["utc"] = struct.unpack_from("<Q", payload, 16)[0]
            elif kind == INPUT:
                record["message"], record["wparam"], record["lparam"] = struct.unpack_from("<IIi", payload, 16)
            records.append(record)
            at = end + 4
    return records


def read(folder):
    return parse(segments_in(folder))


def is_of(records, name, folder=None):
    """Whether the journal is the one of scene file `name` (in `folder`,
    where the platform's path shows it) by the path its first record names,
    in the platform's own form: the header, or where the segments before a
    checkpoint have gone (a minute old, or to make room), the checkpoint."""
    if not records or records[0]["type"] not in (HEADER, CHECKPOINT):
        return False
    parts = records[0]["path"].replace("\\", "/").split("/")
    return parts[-1] == name and (folder is None or parts[-2:-1] == [os.path.basename(folder)])


def of_scene(journals, name, folder=None):
    """The records of the one journal, of several {segment name: bytes},
    kept for that scene file; None where there is none."""
    found = [r for r in map(parse, journals) if is_of(r, name, folder)]
    assert len(found) <= 1, "%d journals of %s" % (len(found), name)
    return found[0] if found else None


def events(records, until):
    """talvo-sim's scripted input for the inputs kept up to frame `until`."""
    lines = []
    for r in records:
        if r["type"] != INPUT or r["frame"] > until:
            continue
        if r["message"] == 0x112:
            lines.append("%d command %d" % (r["frame"], r["wparam"]))
        else:
            x, y = r["lparam"] & 0xFFFF, (r["lparam"] >> 16) & 0xFFFF
            held = "".join(" " + word for bit, word in ((4, "shift"), (8, "ctrl"), (0x100, "keyboard"))
                           if r["wparam"] & bit)
            lines.append("%d %s %d %d%s" % (r["frame"], EVENTS[r["message"]], x, y, held))
    return "".join(line + "\n" for line in lines)


def last_flushed(records):
    """(frame, wall-clock milliseconds) of the last frame the journal holds."""
    ticks = [r for r in records if r["type"] in (TICK, CHECKPOINT)]
    return (ticks[-1]["frame"], ticks[-1]["utc"]) if ticks else (-1, 0)


def holds(records, message):
    """Whether an input of that message was flushed."""
    return any(r["type"] == INPUT and r["message"] == message for r in records)


def check_flush_pace(records):
    """Every input reached the disk with the next flush due: within half a
    second of the program's own clock of play, and two frames: an input is
    stamped with its frame's start, the flush before it may have come later
    in that frame (while idle), and the one after it at the start of the
    frame that passes the half second."""
    for at, r in enumerate(records):
        if r["type"] != INPUT:
            continue
        flush = next(t for t in records[at:] if t["type"] == TICK)
        lag = flush["play"] - r["play"]
        assert lag <= FLUSH_MS + 2 * LONGEST_FRAME_MS, \
            "an input of frame %d waited %d ms of play for its flush" % (r["frame"], lag)


def straight_run(sim, records, frame, script=None, after=0):
    """The scene file of an independent talvo-sim run, on a new scene with
    the session's seed, of `frame` frames and the input up to that frame
    (the journal's own, or `script`), then `after` frames more: what a
    rebuild at that frame must give."""
    if script is None:
        script = events(records, frame)
    else:
        script = "".join(line + "\n" for line in script.splitlines() if int(line.split()[0]) <= frame)
    with tempfile.TemporaryDirectory(prefix="talvo-straight-") as work:
        with open(os.path.join(work, "events.txt"), "w") as f:
            f.write(script)
        run = subprocess.run([sim, "--frames", str(frame + after), "--seed", str(records[0]["seed"]), "--events",
                              "events.txt", "alone.talvo"], cwd=work, capture_output=True, text=True,
                             timeout=120, env=dict(os.environ, XDG_DATA_HOME=os.path.join(work, "data")))
        assert run.returncode == 0, run.stderr
        with open(os.path.join(work, "alone.talvo"), "rb") as f:
            return f.read()


def rebuild_expected(sim, records, script=None, after=0):
    """What a kill that left these records must be rebuilt as: the journal
    shows every input flushed in time, begins a session and holds a frame;
    returns that frame and the scene of an independent run to it (and
    `after` frames beyond, which a start that rebuilds runs before it
    saves again)."""
    assert records and records[0]["type"] == HEADER, "the journal holds no session"
    assert records[-1]["type"] != END, "the killed session's journal says it ended cleanly"
    check_flush_pace(records)
    frame = last_flushed(records)[0]
    return frame, straight_run(sim, records, frame, script, after)
