#!/usr/bin/env bash
# The WebAssembly build against the native one, side by side: talvo-sim and
# talvo-sim.js under Node run the same frames of the same seed, one after
# the other, pinned to one core, ROUNDS times (default 5); each line gives
# both runs' step and frame rate and their ratio, the last the median ratio.
# Runs alternate so that a machine that slows down meanwhile slows both.
#   bench/web_ratio.sh [ROUNDS [FRAMES]]
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-5}
frames=${2:-5000}
native=$PWD/build/release/talvo-sim
web=$PWD/build/web/talvo-sim.js
for program in "$native" "$web"; do
  [ -e "$program" ] || { echo "web_ratio: no $program; build it first (scripts/setup release web)" >&2; exit 1; }
done
cpu=$(($(nproc) - 1))
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

fps() { sed -nE 's/.*step_ns_per_grain=([0-9.]+).* fps=([0-9.]+).*/\1 \2/p'; }
ratios=()
for ((round = 1; round <= rounds; round++)); do
  read -r native_step native_fps < <(taskset -c "$cpu" "$native" --bench --frames "$frames" --seed 1 n.talvo | fps)
  read -r web_step web_fps < <(taskset -c "$cpu" node "$web" --bench --frames "$frames" --seed 1 w.talvo | fps)
  rm -f n.talvo w.talvo
  ratio=$(awk -v w="$web_fps" -v n="$native_fps" 'BEGIN { printf "%.3f", w / n }')
  ratios+=("$ratio")
  printf 'native %6s ns/grain %8s fps   node %6s ns/grain %8s fps   ratio %s\n' \
    "$native_step" "$native_fps" "$web_step" "$web_fps" "$ratio"
done
median=$(printf '%s\n' "${ratios[@]}" | sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }')
echo "processor: $(sed -nE 's/^model name\s*:\s*//p' /proc/cpuinfo | head -n 1); node $(node --version)"
echo "web/native frames a second: median $median of $rounds rounds"
