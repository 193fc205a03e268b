#!/usr/bin/env bash
# Packs talvo_bench with the shared libraries it was linked against and the
# dynamic loader, so that it runs on any x86-64 Linux whatever its own
# libraries (nothing is installed there; the kernel is all it needs).
#   bench/pack.sh [BUILD_DIR [ARCHIVE]]
# BUILD_DIR defaults to build/release, ARCHIVE to BUILD_DIR/talvo-bench.tar.gz.
# On the other machine:
#   tar xzf talvo-bench.tar.gz && talvo-bench/run [CPU] [BENCHMARK OPTIONS]
# runs the agreement check, then every scene's step against the plain step,
# pinned to one core (CPU, default 0), and ends with a summary whose ratio
# column is the figure to compare between processors.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
archive=${2:-$build/talvo-bench.tar.gz}
program=$build/bench/talvo_bench
[ -x "$program" ] || { echo "pack: no $program; build it first (scripts/setup release)" >&2; exit 1; }

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
mkdir -p "$stage/talvo-bench/lib"
cp "$program" "$stage/talvo-bench/"
# Every library the loader resolves, and the loader itself.
loader=""
while read -r line; do
  case "$line" in
    *"=> not found"*) echo "pack: $line" >&2; exit 1 ;;
    *"=> /"*) lib=${line#*=> }; lib=${lib%% (*} ;;
    /*) lib=${line%% (*}; loader=$(basename "$lib") ;;
    *) continue ;;
  esac
  cp -L "$lib" "$stage/talvo-bench/lib/"
done < <(ldd "$program")
[ -n "$loader" ] || { echo "pack: no dynamic loader found for $program" >&2; exit 1; }

cat >"$stage/talvo-bench/run" <<EOF
#!/bin/sh
# talvo_bench on its own libraries and loader, pinned to one core.
#   run [CPU] [GOOGLE BENCHMARK OPTIONS]
here=\$(cd "\$(dirname "\$0")" && pwd)
cpu=0
case "\${1:-}" in [0-9]*) cpu=\$1; shift ;; esac
# Twelve repetitions, their medians in the summary, unless asked otherwise.
[ \$# -gt 0 ] || set -- --benchmark_repetitions=12 --benchmark_report_aggregates_only=true
pin="taskset -c \$cpu"
command -v taskset >/dev/null 2>&1 || { echo "run: no taskset here, so not pinned" >&2; pin=""; }
exec \$pin "\$here/lib/$loader" --library-path "\$here/lib" "\$here/talvo_bench" "\$@"
EOF
chmod +x "$stage/talvo-bench/run"
tar -C "$stage" -czf "$archive" talvo-bench
echo "pack: $archive ($(du -h "$archive" | cut -f1)), with $(ls "$stage/talvo-bench/lib" | tr '\n' ' ')"
