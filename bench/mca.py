#!/usr/bin/env python3
"""The particle step's unrolled loop (the pass that moves every grain) under
llvm-mca's models of several processors: cycles per grain when every load
hits and nothing is mispredicted or cleared.
  bench/mca.py [OBJECT [CPU...]]
OBJECT defaults to the release build's particles.cpp.o."""
import os
import re
import subprocess
import sys

root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
obj = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
    root, "build/release/CMakeFiles/talvo_core.dir/src/sim/particles.cpp.o")
cpus = sys.argv[2:] or ["skylake-avx512", "icelake-server", "sapphirerapids", "znver2", "znver3"]
GRAINS = 8  # per turn of the unrolled loop

listing = subprocess.run(["objdump", "-d", "-C", "--no-show-raw-insn", obj], capture_output=True, text=True,
                         check=True).stdout.splitlines()
# The flow pass for a field anywhere (a second template argument of 0, where
# the build has one): the one the native program runs.
flow = re.compile(r"StepRange<\(\(anonymous namespace\)::Pass\)0(, 0ul)?>\(.*>:$")
start = next((i for i, line in enumerate(listing) if flow.search(line)), None)
if start is None:
    sys.exit("mca: no flow pass (StepRange<Pass 0>) in " + obj)
body = []
for line in listing[start + 1:]:
    if line.endswith(">:") or not line.strip():
        break
    m = re.match(r"\s*([0-9a-f]+):\s+(.*)", line)
    if m:
        body.append((int(m.group(1), 16), m.group(2).split("#")[0].strip()))
# The first jump backwards closes the unrolled loop; the rare paths (a grain
# in the bottom row) lie after it and are left out, as are the jumps to them.
lo = hi = None
for address, instruction in body:
    m = re.match(r"j[a-z]+\s+([0-9a-f]+)", instruction)
    if m and int(m.group(1), 16) < address:
        lo, hi = int(m.group(1), 16), address
        break
loop = [re.sub(r"<[^>]*>", "", i) for a, i in body if lo <= a <= hi and not re.match(r"j[a-z]+\s", i)]
source = "\n".join(loop) + "\n"
print("%d instructions a turn, %.1f a grain" % (len(loop), len(loop) / GRAINS))
for cpu in cpus:
    out = subprocess.run(["llvm-mca", "-mtriple=x86_64", "-mcpu=" + cpu, "-iterations=200"], input=source,
                         capture_output=True, text=True).stdout
    cycles = int(re.search(r"Total Cycles:\s+(\d+)", out).group(1))
    uops = int(re.search(r"Total uOps:\s+(\d+)", out).group(1))
    print("%-16s %5.2f cycles a grain, %4.1f micro-ops a grain" % (cpu, cycles / 200 / GRAINS, uops / 200 / GRAINS))
