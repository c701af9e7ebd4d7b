#!/usr/bin/env bash
# kestrune-cli copy killed for real (SIGKILL from strace) at each rename it
# makes, over an older set under the new name, then `copy --recover`: the set
# under the new name must be wholly old or wholly new by its checksums, the
# source untouched, and no hidden file left in either folder.
#
#   bash copy_kill.sh BUILD_DIR TESTDATA_DIR SHARED_TOOLS_DIR
# Exit 77 (skipped) without strace (or where it cannot trace) or without the test data.
set -u

build=$1
data=$2
cli=$build/kestrune-cli
[ -x "$cli" ] || { echo "$cli is missing: build the kestrune-cli target" >&2; exit 1; }
command -v strace >/dev/null || { echo "strace missing: skipped"; exit 77; }
strace -f -o /dev/null true 2>/dev/null || { echo "strace cannot trace here: skipped"; exit 77; }
if [ ! -d "$data/field" ]; then
  if [ "${KESTRUNE_REQUIRE_TESTDATA:-0}" = 1 ]; then
    echo "KESTRUNE_REQUIRE_TESTDATA=1 but $data/field is missing" >&2
    exit 1
  fi
  echo "test data folder absent: skipped"
  exit 77
fi

work=$(mktemp -d)
trap 'chmod -R u+w "$work"; rm -rf "$work"' EXIT
export XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work
mkdir -p "$work/src" "$work/dst"
# The new set: an as-applied log with every side file; the old one another set
# with a ".gpe" the new one lacks and no ".prj".
cp "$data/field/as-applied-simple1".* "$work/src/"
for f in "$work/src/as-applied-simple1".*; do mv "$f" "$work/src/points.${f##*.}"; done
chmod u+w "$work/src"/*
sums() { (cd "$1" && ls -A | LC_ALL=C sort | while read -r n; do printf '%s %s\n' "$n" "$(md5sum < "$n" | cut -c1-32)"; done); }
src_sums=$(sums "$work/src")
new_sums=$src_sums  # the same names under the new folder
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

make_old() {
  rm -rf "$work/dst"; mkdir -p "$work/dst"
  for ext in shp shx dbf; do cp "$data/field/boundary-simple1.$ext" "$work/dst/points.$ext"; done
  printf '[Options]\r\nDISPLAY_SIZE=300\r\n' > "$work/dst/points.gpe"
  printf 'old notes\n' > "$work/dst/points.txt"
  chmod u+w "$work/dst"/*
}
make_old
old_sums=$(sums "$work/dst")

n=1 kills=0 saw_old=0 saw_new=0
while [ $n -lt 60 ]; do
  make_old
  # In a subshell, so the shell's own "Killed" line stays out of the log.
  (strace -f -o /dev/null -e trace=rename -e inject=rename:signal=KILL:when=$n \
    "$cli" copy "$work/src/points.shp" "$work/dst/points.shp" >/dev/null 2>&1; exit $?) 2>/dev/null
  status=$?
  if [ $status -eq 0 ]; then
    [ "$(sums "$work/dst")" = "$new_sums" ] || fail "the uninterrupted copy is not the new set"
    break
  fi
  kills=$((kills + 1))
  "$cli" copy --recover "$work/dst" >/dev/null || fail "recovery after rename $n failed"
  now=$(sums "$work/dst")
  if [ "$now" = "$old_sums" ]; then
    saw_old=$((saw_old + 1))
  elif [ "$now" = "$new_sums" ]; then
    saw_new=$((saw_new + 1))
  else
    fail "killed at rename $n: neither wholly old nor wholly new:"; echo "$now"
  fi
  [ "$(sums "$work/src")" = "$src_sums" ] || fail "killed at rename $n: the source changed"
  n=$((n + 1))
done
# With KESTRUNE_COPY_KILL_MB=N, also kill -9 a copy whose table is N MiB at
# 10 random moments of its run (the copy phase included), then recover.
big=${KESTRUNE_COPY_KILL_MB:-0}
if [ "$big" -gt 0 ]; then
  head -c $((big * 1048576)) /dev/urandom > "$work/src/points.dbf"
  src_sums=$(sums "$work/src"); new_sums=$src_sums
  make_old
  start=$(date +%s%N)
  "$cli" copy "$work/src/points.shp" "$work/dst/points.shp" >/dev/null || fail "the big copy failed"
  span=$(( ($(date +%s%N) - start) / 1000000 ))
  echo "a copy of $big MiB takes $span ms"
  for i in 1 2 3 4 5 6 7 8 9 10; do
    make_old
    at=$(( RANDOM % (span + 1) ))
    "$cli" copy "$work/src/points.shp" "$work/dst/points.shp" >/dev/null 2>&1 &
    pid=$!
    sleep "$(printf '%d.%03d' $((at / 1000)) $((at % 1000)))"
    kill -9 $pid 2>/dev/null
    wait $pid 2>/dev/null
    "$cli" copy --recover "$work/dst" >/dev/null || fail "recovery after a kill at $at ms failed"
    now=$(sums "$work/dst")
    if [ "$now" = "$old_sums" ]; then
      echo "killed at $at ms: wholly old"
    elif [ "$now" = "$new_sums" ]; then
      echo "killed at $at ms: wholly new"
    else
      fail "killed at $at ms: neither wholly old nor wholly new:"; echo "$now"
    fi
  done
fi

# A journal, 5 old files aside (shp shx dbf gpe txt), 7 new ones in.
[ $kills -ge 13 ] || fail "only $kills renames were killed"
[ $saw_old -gt 0 ] && [ $saw_new -gt 0 ] || fail "old $saw_old, new $saw_new: both ends expected"
echo "killed at $kills renames: $saw_old wholly old, $saw_new wholly new"
[ $failures -eq 0 ]
