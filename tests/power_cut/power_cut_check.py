#!/usr/bin/python3
"""A power cut at chosen moments of a session: talvo-sim runs in real time
with strokes, Clear, undo and a drop, under record_writes.so, which records
each write and each flush to disk. For each cut, the disk is built as the
cut would leave it, with only what was flushed (a file's bytes as of its
last fsync, a folder's names as of the last fsync of the folder), and the
next start on the scene must go on without harm: exit 0, a whole scene,
nothing kept aside as damaged, the journal's scene rebuilt where it had
one. Usage: power_cut_check.py [TALVO_SIM]"""
import os
import shutil
import struct
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
SIM = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build/release/talvo-sim"))
CUTS = 40
SCRIPT = ("1 command 41\n3 lbuttondown 40 300\n4 mousemove 200 300\n5 mousemove 300 310\n6 lbuttonup 300 310\n"
          "12 command 7\n15 rbuttondown 60 80\n16 mousemove 280 90\n17 rbuttonup 280 90\n20 char 26\n"
          "24 drop other.talvo\n26 lbuttondown 30 200\n27 mousemove 310 220\n28 lbuttonup 310 220\n"
          "34 drop s.talvo\n36 char 26\n38 command 42\n")


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
        failed, rebuilt = 0, 0
        cuts = sorted({len(ops) * i // CUTS for i in range(1, CUTS + 1)})
        for cut in cuts:
            # The disk is built where it was: a journal belongs to its scene's path.
            shutil.rmtree(top)
            for path, body in disk_after(ops, cut, before).items():
                os.makedirs(os.path.dirname(path), exist_ok=True)
                with open(path, "wb") as f:
                    f.write(body)
            there = os.path.join(top, "work")
            os.makedirs(there, exist_ok=True)
            start = subprocess.run([SIM, "--frames", "1", "s.talvo"], cwd=there, capture_output=True, text=True,
                                   timeout=120, env=env)
            with open(os.path.join(there, "s.talvo"), "rb") as f:
                scene = f.read()
            damaged = [n for n in os.listdir(there) if ".damaged" in n]
            whole = scene[:5] == b"TALVO" and len(scene) in (200588, 201588)
            rebuilt += "was rebuilt" in start.stderr
            if start.returncode != 0 or not whole or damaged:
                failed += 1
                print("FAIL: cut after %d of %d writes: exit %d, scene of %d bytes, damaged %s\n%s"
                      % (cut, len(ops), start.returncode, len(scene), damaged, start.stderr))
        print("power cuts: %d of %d cuts started cleanly (%d rebuilt from the journal; %d writes, %d flushes recorded)"
              % (len(cuts) - failed, len(cuts), rebuilt, len(ops), syncs))
        return 1 if failed else 0
    finally:
        shutil.rmtree(top)
        shutil.rmtree(os.path.dirname(library))


if __name__ == "__main__":
    sys.exit(main())
