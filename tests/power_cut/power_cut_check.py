#!/usr/bin/python3
"""A power cut at chosen moments of a session: talvo-sim runs in real time
with strokes, Clear, undo and a drop, under record_writes.so, which records
each write and each flush to disk. For each cut, the disk is built as the
cut would leave it, with only what was flushed (a file's bytes as of its
last fsync, a folder's names as of the last fsync of the folder), and the
next start on each scene must go on without harm: exit 0, a whole scene,
nothing kept aside as damaged; and where the disk holds a journal of the
scene that did not end cleanly, the scene rebuilt at that journal's last
frame, equal to a straight run of the same input from the same files up
to that frame. Usage: power_cut_check.py [TALVO_SIM]"""
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
SIM = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build/release/talvo-sim"))
CUTS = 40
SCRIPT = ("1 command 41\n3 lbuttondown 40 300\n4 mousemove 200 300\n5 mousemove 300 310\n6 lbuttonup 300 310\n"
          "12 command 7\n15 rbuttondown 60 80\n16 mousemove 280 90\n17 rbuttonup 280 90\n20 char 26\n"
          "24 drop other.talvo\n26 lbuttondown 30 200\n27 mousemove 310 220\n28 lbuttonup 310 220\n"
          "34 drop s.talvo\n36 char 26\n38 command 42\n")
# Each session of the run, by its scene and the frame of the run it began
# after: the first on s.talvo, other.talvo dropped in, s.talvo again.
SESSIONS = (("s.talvo", True, 0), ("other.talvo", True, 24), ("s.talvo", False, 34))
REBUILT = re.compile(r"rebuilt as it was at .* \(frame (\d+)\) and saved to (.*?)\.( |$)", re.M)


def fnv64(data):
    h = 0xCBF29CE484222325
    for b in data:
        h = ((h ^ b) * 0x100000001B3) & 0xFFFFFFFFFFFFFFFF
    return h


def journal_records(files, folder):
    """(type, frame, payload) of the journal's records on the disk, in order, up to
    the first that is cut short or damaged, as a reader must take them."""
    records = []
    head = b"TALVO journal 1\n"
    for path in sorted(p for p in files if os.path.dirname(p) == folder and re.fullmatch(r"[0-9A-F]{8}\.seg", os.path.basename(p))):
        data = files[path]
        at, whole = len(head), data.startswith(head)
        while whole and at < len(data):
            size = struct.unpack_from("<I", data, at + 1)[0] if len(data) - at >= 9 else None
            whole = size is not None and len(data) - at >= 9 + size and \
                zlib.crc32(data[at:at + 5 + size]) == struct.unpack_from("<I", data, at + 5 + size)[0]
            if whole:
                records.append((data[at], struct.unpack_from("<Q", data, at + 5)[0], data[at + 5:at + 5 + size]))
                at += 9 + size
        if not whole:
            break
    return records


def expected_rebuild(files, data, work, scene, before):
    """None when the disk holds no unfinished session of the scene, else the
    frame of the run that session began after, the frame of the run its
    rebuild must give (the journal's last frame), and whether the scene file
    was replaced since the journal last saw it (the rebuild goes beside it)."""
    folder = os.path.join(data, "talvo", "journal", "%016X" % fnv64(os.path.realpath(os.path.join(work, scene)).encode()))
    records = journal_records(files, folder)
    if not records or records[-1][0] == 7:
        return None
    # Its header names the scene file's hash as the session began.
    header_hash = next((struct.unpack_from("<Q", r[2], 24)[0] for r in records if r[0] == 1), None)
    # The hash of the file as the session began, as it saved it, as a checkpoint expects it.
    seen = [struct.unpack_from("<Q", r[2], 16 if r[0] == 6 else 24)[0] for r in records if r[0] in (1, 2, 6)][-1]
    replaced = fnv64(files.get(os.path.join(work, scene), b"")) != seen
    for name, first, began in SESSIONS:
        if name == scene and first == (header_hash == fnv64(before[os.path.join(work, scene)])):
            return began, began + records[-1][1], replaced
    raise AssertionError("a journal of %s from no session of the run" % scene)


def straight_run(frames, scenes):
    """The scene a run with no journal leaves after `frames` frames of the input,
    and then one more with none, from the files the session began with."""
    top = tempfile.mkdtemp(prefix="talvo-straight-")
    try:
        for name, body in scenes.items():
            with open(os.path.join(top, name), "wb") as f:
                f.write(body)
        with open(os.path.join(top, "events.txt"), "w") as f:
            f.write("".join(line + "\n" for line in SCRIPT.splitlines() if int(line.split()[0]) <= frames))
        subprocess.run([SIM, "--frames", str(frames + 1), "--seed", "4", "--events", "events.txt", "s.talvo"],
                       cwd=top, env=dict(os.environ, XDG_DATA_HOME=os.path.join(top, "data")), check=True,
                       capture_output=True, timeout=120)
        # The scene open then: s.talvo, or other.talvo while it is dropped in.
        open_now = "other.talvo" if 24 <= frames < 34 else "s.talvo"
        with open(os.path.join(top, open_now), "rb") as f:
            return f.read()
    finally:
        shutil.rmtree(top)


def read_log(path):
    ops = []
    with open(path, "rb") as f:
        data = f.read()
    at = 0
    while at + 17 <= len(data):
        op = chr(data[at])
        la, lb, number, size = struct.unpack_from("<HHqI", data, at + 1)
        at += 17
        a = data[at:at + la].decode()
        b = data[at + la:at + la + lb].decode()
        at += la + lb
        ops.append((op, a, b, number, data[at:at + size]))
        at += size
    return ops


def disk_after(ops, cut, before):
    """{path: bytes} as a power cut after ops[:cut] leaves the disk."""
    names = {}
    content, durable = {}, {}
    for n, (path, data) in enumerate(sorted(before.items())):
        names[path] = n
        content[n], durable[n] = bytearray(data), bytes(data)
    lasting = dict(names)
    next_inode = len(names)
    for op, a, b, number, data in ops[:cut]:
        if op == "o":
            if a not in names:
                names[a] = next_inode
                content[next_inode] = bytearray()
                next_inode += 1
            if number & os.O_TRUNC:
                content[names[a]] = bytearray()
        elif op == "w" and a in names:
            body = content[names[a]]
            if len(body) < number:
                body.extend(bytes(number - len(body)))
            body[number:number + len(data)] = data
        elif op == "t" and a in names:
            body = content[names[a]]
            del body[number:]
            body.extend(bytes(max(0, number - len(body))))
        elif op == "s" and b == "folder":
            for path in [p for p in lasting if os.path.dirname(p) == a]:
                del lasting[path]
            lasting.update({p: i for p, i in names.items() if os.path.dirname(p) == a})
        elif op == "s" and a in names:
            durable[names[a]] = bytes(content[names[a]])
        elif op == "r" and a in names:
            names[b] = names.pop(a)
        elif op == "l" and a in names:
            names[b] = names[a]
        elif op == "u":
            names.pop(a, None)
    return {path: durable.get(inode, b"") for path, inode in lasting.items()}


def files_under(top):
    found = {}
    for folder, _, files in os.walk(top):
        for name in files:
            with open(os.path.join(folder, name), "rb") as f:
                found[os.path.join(folder, name)] = f.read()
    return found


def main():
    library = os.path.join(tempfile.mkdtemp(prefix="talvo-record-"), "record_writes.so")
    subprocess.run(["cc", "-shared", "-fPIC", "-O1", "-o", library, os.path.join(HERE, "record_writes.c"), "-ldl"],
                   check=True)
    top = tempfile.mkdtemp(prefix="talvo-power-")
    try:
        work, data = os.path.join(top, "work"), os.path.join(top, "data")
        os.makedirs(work)
        with open(os.path.join(work, "events.txt"), "w") as f:
            f.write(SCRIPT)
        env = dict(os.environ, XDG_DATA_HOME=data)
        for scene in ("s.talvo", "other.talvo"):
            subprocess.run([SIM, "--frames", "5", "--seed", "3", scene], cwd=work, env=env, check=True,
                           capture_output=True)
        before = files_under(top)
        log = os.path.join(os.path.dirname(library), "writes.log")
        run = subprocess.run([SIM, "--real-time", "--frames", "60", "--seed", "4", "--events", "events.txt", "s.talvo"],
                             cwd=work, capture_output=True, text=True, timeout=120,
                             env=dict(env, LD_PRELOAD=library, TALVO_RECORD_ROOT=top, TALVO_RECORD_LOG=log))
        assert run.returncode == 0, run.stderr
        ops = read_log(log)
        syncs = sum(1 for op in ops if op[0] == "s")
        assert syncs > 10, "only %d flushes were recorded" % syncs
        failed, rebuilt, compared, beside = 0, 0, 0, 0
        originals = {scene: before[os.path.join(work, scene)] for scene in ("s.talvo", "other.talvo")}
        straight = {}
        cuts = sorted({len(ops) * i // CUTS for i in range(1, CUTS + 1)})
        for cut in cuts:
            # The disk is built where it was: a journal belongs to its scene's path.
            shutil.rmtree(top)
            disk = disk_after(ops, cut, before)
            for path, body in disk.items():
                os.makedirs(os.path.dirname(path), exist_ok=True)
                with open(path, "wb") as f:
                    f.write(body)
            there = os.path.join(top, "work")
            os.makedirs(there, exist_ok=True)
            problems = []
            for name in ("s.talvo", "other.talvo"):
                began, expected, replaced = expected_rebuild(disk, data, work, name, before) or (0, None, False)
                start = subprocess.run([SIM, "--frames", "1", name], cwd=there, capture_output=True, text=True,
                                       timeout=120, env=env)
                note = REBUILT.search(start.stderr)
                saved = note.group(2) if note else name
                with open(os.path.join(there, saved), "rb") as f:
                    scene = f.read()
                if start.returncode != 0 or scene[:5] != b"TALVO" or len(scene) not in (200588, 201588):
                    problems.append("%s: exit %d, %s of %d bytes" % (name, start.returncode, saved, len(scene)))
                rebuilt += bool(note)
                beside += saved != name
                if expected is None and note:
                    problems.append("%s rebuilt with no unfinished session on the disk" % name)
                elif expected is not None and not note:
                    problems.append("%s not rebuilt: its session up to frame %d is lost" % (name, expected))
                elif note:
                    if (saved != name) != replaced:
                        problems.append("%s rebuilt to %s, its file %s" % (name, saved, "replaced since" if replaced else "unchanged"))
                    if int(note.group(1)) + began != expected:
                        problems.append("%s rebuilt at frame %s of its session; its journal reaches %d"
                                        % (name, note.group(1), expected - began))
                    if expected not in straight:
                        straight[expected] = straight_run(expected, originals)
                    compared += scene == straight[expected]
                    if scene != straight[expected]:
                        problems.append("%s rebuilt at frame %d of the run is not the straight run's" % (name, expected))
            damaged = [n for n in os.listdir(there) if ".damaged" in n]
            if damaged:
                problems.append("damaged: %s" % damaged)
            if problems:
                failed += 1
                print("FAIL: cut after %d of %d writes: %s\n%s" % (cut, len(ops), "; ".join(problems), start.stderr))
        print("power cuts: %d of %d cuts started cleanly (%d rebuilt from the journal, %d of them equal to a straight "
              "run, %d beside a file replaced since; %d writes, %d flushes recorded)"
              % (len(cuts) - failed, len(cuts), rebuilt, compared, beside, len(ops), syncs))
        return 1 if failed else 0
    finally:
        shutil.rmtree(top)
        shutil.rmtree(os.path.dirname(library))


if __name__ == "__main__":
    sys.exit(main())
