"""The session journal read independently of the program: its segments,
records and checksums as the format lays them down, and the input it kept
turned back into talvo-sim's scripted input."""
import os
import struct
import zlib

HEADER, CHECKPOINT, INPUT, TICK, SHOWN, SAVED, END = range(1, 8)
EVENTS = {0x200: "mousemove", 0x201: "lbuttondown", 0x202: "lbuttonup", 0x204: "rbuttondown", 0x205: "rbuttonup"}


def folders(data_home):
    """The journal folders in a data folder."""
    top = os.path.join(data_home, "talvo", "journal")
    return [os.path.join(top, f) for f in sorted(os.listdir(top)) if os.path.isdir(os.path.join(top, f))] \
        if os.path.isdir(top) else []


def read(folder):
    """The records of every segment, in order, as dicts; a record cut short
    or with a wrong checksum ends the reading."""
    records = []
    for name in sorted(n for n in os.listdir(folder) if n.endswith(".seg")):
        with open(os.path.join(folder, name), "rb") as f:
            data = f.read()
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
                record["utc"], _, record["seed"] = struct.unpack_from("<QQI", payload, 16)
            elif kind in (CHECKPOINT, TICK):
                record["utc"] = struct.unpack_from("<Q", payload, 16)[0]
            elif kind == INPUT:
                record["message"], record["wparam"], record["lparam"] = struct.unpack_from("<IIi", payload, 16)
            records.append(record)
            at = end + 4
    return records


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
            lines.append("%d %s %d %d" % (r["frame"], EVENTS[r["message"]], x, y))
    return "".join(line + "\n" for line in lines)


def last_flushed(records):
    """(frame, wall-clock milliseconds) of the last frame the journal holds."""
    ticks = [r for r in records if r["type"] in (TICK, CHECKPOINT)]
    return (ticks[-1]["frame"], ticks[-1]["utc"]) if ticks else (-1, 0)
