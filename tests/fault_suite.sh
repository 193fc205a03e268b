#!/usr/bin/env bash
# The scene file under file-system faults, through talvo-sim: links, modes,
# special files, full disks, read-only mounts, size limits, kills during a
# save and two programs saving at once. Every case needs root: some run as an
# unprivileged user (setpriv), some in a private mount namespace (unshare -m).
# Usage: tests/fault_suite.sh [TALVO_SIM]
set -uo pipefail
if [ "$(id -u)" -ne 0 ]; then
  echo "faults: 0 passed, 0 failed (skipped: they need root)"
  exit 0
fi
top=$(mktemp -d /tmp/talvo-faults-XXXXXX)
chmod 755 "$top"
trap 'rm -rf "$top"' EXIT
sim=$top/talvo-sim
cp "${1:-build/release/talvo-sim}" "$sim"
export XDG_DATA_HOME=$top/data
nobody=(setpriv --reuid=65534 --regid=65534 --clear-groups env XDG_DATA_HOME="$top/data-nobody")
mkdir -p "$top/data-nobody" && chown 65534:65534 "$top/data-nobody"
passed=0 failed=0 cases=0

check() { # WHAT COMMAND...: one case passes when the command does
  if "${@:2}"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAIL: $1"; fi
}
case_dir() { # a fresh folder that everybody may use, as the current one
  cases=$((cases + 1)) && dir=$top/case$cases && mkdir -m 777 "$dir" && cd "$dir" || exit 1
}
limited() { # every program a case starts ends within a minute, or the case says why it failed
  timeout -k 5 60 "$@"
  local status=$?
  if [ $status = 124 ] || [ $status = 137 ]; then echo "FAIL: stopped after its time limit: $*" >&2; fi
  return $status
}
run() { # talvo-sim for two frames; its status in $status
  limited "$@" --frames 2 --seed 1 >out.txt 2>err.txt </dev/null
  status=$?
}
rescues() { find "$top"/data* -name 'rescued-*' 2>/dev/null | wc -l; }
is_scene() { [ "$(stat -c %s "$1")" = 200588 ] && [ "$(head -c 5 "$1")" = TALVO ]; }
failed_aloud() { # exit 1, one message naming the rescue, and one more rescued scene
  [ "$status" = 1 ] && [ "$(wc -l <err.txt)" = 1 ] && grep -q "It was saved to" err.txt && [ "$(rescues)" = "$1" ]
}
scene() { (cd "$top" && limited "$sim" --frames "$2" --seed 1 "$1" >/dev/null && mv "$1" "$dir/$1"); }

# Names left by others in the folder are never opened, followed or replaced.
case_dir
echo keep >"$top/victim"
ln -s "$top/victim" '~talvo.save'
run "$sim" x.talvo
check "planted link" eval '[ $status = 0 -a -L "~talvo.save" -a "$(cat "$top/victim")" = keep ] && is_scene x.talvo'
rm '~talvo.save' && mkfifo '~talvo.save' && rm x.talvo
run "$sim" x.talvo
check "planted FIFO" eval '[ $status = 0 -a -p "~talvo.save" ] && is_scene x.talvo'

# Links: the file they lead to is saved, the links stay.
case_dir
mkdir sub && scene real.talvo 1 && mv real.talvo sub/ && cp sub/real.talvo old.talvo
ln -s sub/real.talvo link.talvo && ln -s sub/made.talvo dangling.talvo
ln sub/real.talvo hard.talvo
run "$sim" link.talvo
check "symbolic link kept" [ $status = 0 -a -L link.talvo -a "$(readlink link.talvo)" = sub/real.talvo ]
check "linked file saved" eval '! cmp -s sub/real.talvo old.talvo && is_scene sub/real.talvo'
# Written in place over a longer file, the file ends where the scene ends.
head -c 1000 /dev/urandom >>hard.talvo && cp hard.talvo old.talvo && run "$sim" hard.talvo
check "hard link kept" eval '[ sub/real.talvo -ef hard.talvo ] && ! cmp -s hard.talvo old.talvo && is_scene hard.talvo'
run "$sim" dangling.talvo
check "link that leads nowhere" eval '[ -L dangling.talvo ] && is_scene sub/made.talvo'

# Permissions and owner are kept; a read-only scene is left alone.
case_dir
scene private.talvo 1 && chmod 600 private.talvo && chown 65534:65534 private.talvo
scene readonly.talvo 1 && chmod 444 readonly.talvo && cp readonly.talvo old.talvo
run "$sim" private.talvo
check "mode 0600 and owner kept" [ $status = 0 -a "$(stat -c %a:%u private.talvo)" = 600:65534 ]
before=$(rescues) && run "$sim" readonly.talvo
check "read-only scene left alone" eval 'failed_aloud $((before + 1)) && cmp -s readonly.talvo old.talvo'

# A device node, a FIFO, or /dev/stdin (in a /dev of our own) is not a file to replace.
case_dir
mknod null c 1 3 && mkfifo fifo.talvo && mkdir folder.talvo
for target in null fifo.talvo folder.talvo; do
  before=$(rescues) && run "$sim" $target
  check "$target named as the scene" eval 'failed_aloud $((before + 1)) && [ ! -f $target ]'
done
before=$(rescues)
unshare -m sh -c 'mount -t tmpfs none /dev && mknod /dev/null c 1 3 && ln -s /proc/self/fd/0 /dev/stdin &&
  timeout 30 "$1" --frames 2 /dev/stdin </dev/null >out.txt 2>err.txt; echo $? >status && [ -c /dev/null ]' sh "$sim"
status=$(cat status)
check "/dev/stdin named as the scene" failed_aloud $((before + 1))

# FIFOs where a file is read never block the run.
case_dir
mkfifo init.txt fifo.talvo && echo "1 drop fifo.talvo" >drop.txt
run "$sim" --events drop.txt x.talvo
check "FIFO start-up script and drop" eval '[ $status = 0 ] && is_scene x.talvo'
rm init.txt && mkfifo bg.raw && printf 'a\nb\nc\n' >bg.pal
run "$sim" y.talvo
check "FIFO background" eval '[ $status = 0 ] && is_scene y.talvo'
rm bg.raw && head -c 135072 /dev/zero >bg.raw && rm bg.pal && mkfifo bg.pal
run "$sim" z.talvo
check "FIFO background palette" eval '[ $status = 0 ] && is_scene z.talvo'

# As a user: an unreadable scene is not taken for absent; a writable scene in
# a folder the user cannot write is saved in place; a new one there cannot be.
case_dir
scene secret.talvo 1 && chmod 200 secret.talvo && chown 65534 secret.talvo && cp secret.talvo old.talvo
scene mine.talvo 1 && head -c 1000 /dev/urandom >>mine.talvo && chown 65534 mine.talvo && cp mine.talvo old-mine.talvo
chmod 755 . && before=$(rescues)
run "${nobody[@]}" "$sim" secret.talvo
check "unreadable scene left alone" eval 'failed_aloud $((before + 1)) && cmp -s secret.talvo old.talvo'
run "${nobody[@]}" "$sim" mine.talvo
check "saved in place in a locked folder" eval '[ $status = 0 ] && ! cmp -s mine.talvo old-mine.talvo && is_scene mine.talvo'
run "${nobody[@]}" "$sim" new.talvo
check "no permission for a new scene" eval 'failed_aloud $((before + 2)) && [ ! -e new.talvo ]'

# A damaged scene is kept aside at the first save under its name.
case_dir
scene cut.talvo 1 && truncate -s -1 cut.talvo && cp cut.talvo old-cut.talvo
scene range.talvo 1 && printf '\012' | dd of=range.talvo bs=1 seek=26 conv=notrunc 2>/dev/null
cp range.talvo old-range.talvo && echo other >range.talvo.damaged
run "$sim" cut.talvo
check "truncated scene kept aside" eval 'cmp -s cut.talvo.damaged old-cut.talvo && is_scene cut.talvo'
run "$sim" range.talvo
check "out-of-range scene kept aside" eval 'cmp -s range.talvo.damaged-2 old-range.talvo && is_scene range.talvo'

# A scene with 50 MB after it, named and dropped, in a run that keeps a
# journal and has far less memory than the file: refused before it is read
# whole, kept aside whole by the save under its name, the dropped one untouched.
case_dir
scene big.talvo 1 && truncate -s +50M big.talvo && cp --sparse=always big.talvo old-big.talvo
cp --sparse=always big.talvo dropped.talvo && echo "1 drop dropped.talvo" >drop.txt
(ulimit -v 60000 && run "$sim" --real-time --events drop.txt big.talvo && echo $status >status)
status=$(cat status)
check "scene with 50 MB after it" eval '[ $status = 0 ] && cmp -s big.talvo.damaged old-big.talvo && is_scene big.talvo &&
  cmp -s dropped.talvo old-big.talvo'

# Failed saves: each is told, leaves the old scene and rescues the new one.
case_dir
scene '~talvo.save' 1 && cp '~talvo.save' old.talvo && before=$(rescues)
(ulimit -f 100 && run "$sim" '~talvo.save' && echo $status >status)
status=$(cat status)
check "file too large" eval '[ $status = 1 ] && grep -q "so it is lost" err.txt && cmp -s "~talvo.save" old.talvo'
mkdir mnt
for fault in full read-only; do
  before=$(rescues) && rm -f same
  unshare -m sh -c 'mount -t tmpfs -o size=300k none mnt && cp old.talvo mnt/x.talvo &&
    { [ $1 = full ] || mount -o remount,ro mnt; } && cd mnt && timeout 30 "$2" --frames 2 x.talvo >../out.txt 2>../err.txt </dev/null
    echo $? >../status && cmp -s x.talvo ../old.talvo && touch ../same' sh $fault "$sim"
  status=$(cat status)
  check "$fault disk" eval 'failed_aloud $((before + 1)) && [ -e same ]'
done

# Two programs saving in one folder keep to their own files.
case_dir
(cd "$top" && limited "$sim" --frames 3 --seed 1 a.talvo >/dev/null && limited "$sim" --frames 3 --seed 2 b.talvo >/dev/null &&
  mv a.talvo "$dir/want-a" && mv b.talvo "$dir/want-b")
mixed=0
for i in $(seq 20); do
  rm -f a.talvo b.talvo
  limited "$sim" --frames 3 --seed 1 a.talvo >/dev/null & limited "$sim" --frames 3 --seed 2 b.talvo >/dev/null & wait
  cmp -s a.talvo want-a && cmp -s b.talvo want-b || mixed=$((mixed + 1))
done
check "two programs, one folder ($mixed of 20 mixed)" [ $mixed = 0 ]

# Killed at any moment of a save, the scene is the old one or the new one, whole.
case_dir
for i in $(seq 40); do echo "$i drop x.talvo"; done >drops.txt
torn=0
for i in $(seq 30); do
  "$sim" --frames 100 --seed 1 --events drops.txt x.talvo >/dev/null 2>&1 &
  sleep "0.$((RANDOM % 30))" && kill -9 $! 2>/dev/null; wait $! 2>/dev/null
  [ ! -e x.talvo ] || { limited "$sim" --frames 1 x.talvo >/dev/null 2>&1 && [ ! -e x.talvo.damaged ]; } || torn=$((torn + 1))
  rm -f x.talvo.damaged*
done
check "kills during saves ($torn of 30 torn)" [ $torn = 0 ]

# A journal that cannot be kept is said once and changes nothing else.
case_dir
XDG_DATA_HOME=/dev/null/talvo run "$sim" --real-time x.talvo
check "journal without a data folder" eval '[ $status = 0 ] && [ "$(grep -c "journal cannot be kept" err.txt)" = 1 ] && is_scene x.talvo'

# Names up to the path limit are used as given; longer ones are refused.
case_dir
deep=$(printf 'd%.0s/' $(seq 150)) && mkdir -p "$deep"
run "$sim" "${deep}x.talvo"
check "300-character name" eval '[ $status = 0 ] && is_scene "${deep}x.talvo" && [ ! -e Default.talvo ]'
before=$(rescues) && run "$sim" "$(printf 'n%.0s' $(seq 5000))"
check "5000-character name refused" eval '[ $status = 1 ] && grep -q "is longer than" err.txt && [ "$(rescues)" = $((before + 1)) ] && [ ! -e Default.talvo ]'

echo "faults: $passed passed, $failed failed"
[ "$failed" = 0 ]
