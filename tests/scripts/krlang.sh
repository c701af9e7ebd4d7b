#!/bin/bash
# Round trip of the krlang tool: write a table, dump it back, look ids up, in the
# narrow and the wide form, and the exit codes of bad input.
# Usage: krlang.sh BUILD_DIR TESTDATA_DIR SHARED_TOOLS_DIR
set -u
build="$1"
krlang="$build/krlang"
if [ ! -x "$krlang" ]; then
  echo "krlang not built in $build" >&2
  exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# expect_eq WHAT EXPECTED ACTUAL
expect_eq() {
  if [ "$2" != "$3" ]; then
    fail "$1: expected [$2], got [$3]"
  fi
}

# expect_rc WHAT EXPECTED_RC COMMAND...
expect_rc() {
  local what="$1" want="$2"
  shift 2
  "$@" >"$work/out" 2>"$work/err"
  local rc=$?
  [ "$rc" = "$want" ] || fail "$what: exit $rc, expected $want"
}

# A u32 of a file at a byte offset, as a decimal number.
u32_at() {
  od -An -tu4 -j "$2" -N4 "$1" | tr -d ' '
}

# Unordered, with a comment, escapes, a UTF-8 text and an empty text.
printf '# test table\n10264\tAttributes\n10245\t&Open...\n10000040\tInvalid legend file.\n7\tGröße\\tin m²\\nzweite Zeile \\\\ Ende\n9\t\n146\t%%d records in %%s\n' \
  >"$work/table.txt"
# The same entries as dump prints them: ordered by id, escapes written back.
printf '7\tGröße\\tin m²\\nzweite Zeile \\\\ Ende\n9\t\n146\t%%d records in %%s\n10245\t&Open...\n10264\tAttributes\n10000040\tInvalid legend file.\n' \
  >"$work/expected.txt"

for form in narrow wide; do
  flag=""
  [ "$form" = wide ] && flag="--wide"
  dat="$work/$form.dat"
  expect_rc "$form write" 0 "$krlang" write "$work/table.txt" "$dat" $flag
  expect_rc "$form dump" 0 "$krlang" dump "$dat"
  cmp -s "$work/out" "$work/expected.txt" || fail "$form dump differs: $(diff "$work/expected.txt" "$work/out")"
  expect_eq "$form wide flag" "$([ "$form" = wide ] && echo 1 || echo 0)" "$(u32_at "$dat" 4)"
  # Six entries get the default 9 slots: about 1.5 times, with free slots.
  expect_eq "$form slot count" 9 "$(u32_at "$dat" 0)"
  expect_eq "$form get 10264" "Attributes" "$("$krlang" get "$dat" 10264)"
  expect_eq "$form get 7" "$(printf 'Größe\tin m²\nzweite Zeile \\ Ende')" "$("$krlang" get "$dat" 7)"
  expect_eq "$form get 146" "%d records in %s" "$("$krlang" get "$dat" 146)"
  expect_rc "$form get empty text" 0 "$krlang" get "$dat" 9
  expect_eq "$form empty text" "" "$(cat "$work/out")"
  expect_rc "$form get missing" 1 "$krlang" get "$dat" 10265
  expect_eq "$form missing prints nothing" "" "$(cat "$work/out")"
done
cmp -s "$work/narrow.dat" "$work/wide.dat" && fail "narrow and wide files are identical"

# With 101 slots, id 10264 sits in its home slot 75 and id 10000040 in slot 85.
expect_rc "write --slots 101" 0 "$krlang" write --slots 101 "$work/table.txt" "$work/s101.dat"
expect_eq "slot count 101" 101 "$(u32_at "$work/s101.dat" 0)"
expect_eq "id in slot 75" 10264 "$(u32_at "$work/s101.dat" $((8 + 12 * 75)))"
expect_eq "id in slot 85" 10000040 "$(u32_at "$work/s101.dat" $((8 + 12 * 85)))"
expect_eq "slot 74 empty" 4294967295 "$(u32_at "$work/s101.dat" $((8 + 12 * 74)))"
expect_eq "get from 101 slots" "Invalid legend file." "$("$krlang" get "$work/s101.dat" 10000040)"

# A table of exactly as many slots as entries still works.
expect_rc "write --slots 6" 0 "$krlang" write "$work/table.txt" "$work/s6.dat" --slots 6
expect_eq "get from a full table" "&Open..." "$("$krlang" get "$work/s6.dat" 10245)"
expect_rc "get missing from a full table" 1 "$krlang" get "$work/s6.dat" 5

# Bad arguments: usage on stderr, exit 2.
expect_rc "no arguments" 2 "$krlang"
grep -q "usage: krlang" "$work/err" || fail "no usage on stderr"
expect_rc "unknown command" 2 "$krlang" frobnicate x
expect_rc "write with one file" 2 "$krlang" write "$work/table.txt"
expect_rc "--slots without a number" 2 "$krlang" write "$work/table.txt" "$work/x.dat" --slots
expect_rc "--slots not a number" 2 "$krlang" write "$work/table.txt" "$work/x.dat" --slots 1x
expect_rc "--slots 0" 2 "$krlang" write "$work/table.txt" "$work/x.dat" --slots 0
expect_rc "unknown option" 2 "$krlang" write "$work/table.txt" "$work/x.dat" --narrow
expect_rc "get without id" 2 "$krlang" get "$work/narrow.dat"
expect_rc "get with a bad id" 2 "$krlang" get "$work/narrow.dat" 12a
expect_rc "dump with two files" 2 "$krlang" dump a b

# Failures: exit 1 with a message that names what went wrong.
expect_rc "too few slots" 1 "$krlang" write "$work/table.txt" "$work/x.dat" --slots 5
grep -q "5 slots cannot hold 6 entries" "$work/err" || fail "too few slots message: $(cat "$work/err")"
printf '1\tok\n2 missing tab\n' >"$work/bad.txt"
expect_rc "bad table" 1 "$krlang" write "$work/bad.txt" "$work/x.dat"
grep -q "Line 2" "$work/err" || fail "bad table message: $(cat "$work/err")"
expect_rc "missing table" 1 "$krlang" write "$work/none.txt" "$work/x.dat"
printf '\xff\xff\xff\x0f\x00\x00\x00\x00' >"$work/lying.dat"
expect_rc "dump of a lying file" 1 "$krlang" dump "$work/lying.dat"
expect_rc "get from a lying file" 1 "$krlang" get "$work/lying.dat" 7
expect_rc "get from a missing file" 1 "$krlang" get "$work/none.dat" 7

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "krlang: all checks passed"
