#!/usr/bin/env bash
# kestrune-cli info, render and print write only the outputs named on their
# command line: the input folder keeps every name and every byte (checksums
# before and after), whether its ".gpe" is missing (the load would add
# DISPLAY_SIZE), write-protected, just under the 1 MiB limit, a hard link, or
# on a full disk with room for a ".gpe" but not for the output (a small tmpfs
# when this runs as root and may mount one).
#
#   bash cli_inputs_untouched.sh BUILD_DIR TESTDATA_DIR SHARED_TOOLS_DIR
# Exit 77 (skipped) without the test data, unless KESTRUNE_REQUIRE_TESTDATA=1.
set -u

build=$1
data=$2
cli=$build/kestrune-cli
[ -x "$cli" ] || { echo "$cli is missing: build the kestrune-cli target" >&2; exit 1; }
if [ ! -d "$data/field" ]; then
  if [ "${KESTRUNE_REQUIRE_TESTDATA:-0}" = 1 ]; then
    echo "KESTRUNE_REQUIRE_TESTDATA=1 but $data/field is missing" >&2
    exit 1
  fi
  echo "test data folder absent: skipped"
  exit 77
fi

work=$(mktemp -d)
mounted=""
trap '[ -n "$mounted" ] && umount "$mounted"; chmod -R u+w "$work"; rm -rf "$work"' EXIT
export XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work
unset DISPLAY WAYLAND_DISPLAY
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
# Names, modes, link counts and checksums of a folder, hidden files included.
state() {
  (cd "$1" && ls -A | LC_ALL=C sort | while read -r n; do
    printf '%s %s %s %s\n' "$n" "$(stat -c '%a %h' "$n")" "$(md5sum < "$n" | cut -c1-32)"; done)
}

# set_up KIND DIR: the as-applied log in DIR with its ".gpe" made KIND.
set_up() {
  local kind=$1 dir=$2
  mkdir -p "$dir"
  for ext in shp shx dbf prj lgd txt; do cp "$data/field/as-applied-simple1.$ext" "$dir/log.$ext"; done
  chmod u+w "$dir"/*
  case $kind in
    missing) ;;
    readonly) printf '[Options]\r\nLEGEND_COL=5\r\nCOLOR_METHOD=1\r\n' > "$dir/log.gpe"; chmod 0444 "$dir/log.gpe" ;;
    nearlimit)
      # No DISPLAY_SIZE, so the load would add one and push the file past 1 MiB.
      { printf '[Options]\r\nLEGEND_COL=5\r\nCOLOR_METHOD=1\r\n'
        head -c $((1048576 - 60)) /dev/zero | tr '\0' ';'; printf '\r\n'; } > "$dir/log.gpe"
      truncate -s 1048570 "$dir/log.gpe" ;;
    hardlink)
      printf '[Options]\r\nLEGEND_COL=5\r\n' > "$work/shared.gpe"
      ln -f "$work/shared.gpe" "$dir/log.gpe" ;;
    fulldisk) printf '[Options]\r\nLEGEND_COL=5\r\n' > "$dir/log.gpe" ;;
  esac
}

for kind in missing readonly nearlimit hardlink fulldisk; do
  dir=$work/in-$kind
  out=$work/out
  if [ $kind = fulldisk ]; then
    mkdir -p "$dir"
    if [ "$(id -u)" = 0 ] && mount -t tmpfs -o size=1m tmpfs "$dir" 2>/dev/null; then
      mounted=$dir
    else
      echo "cannot mount a tmpfs here: the full-disk case is left to the fault-hook tests"
      continue
    fi
  fi
  set_up $kind "$dir"
  rendered=$out/map.png
  if [ $kind = fulldisk ]; then
    # One page left: room for a rewritten ".gpe", none for a PDF.
    avail=$(df --output=avail -B1 "$dir" | tail -1)
    head -c $((avail - 4096)) /dev/zero > "$dir/filler" 2>/dev/null
    out=$dir
    rendered=$dir/map.pdf
  fi
  mkdir -p "$out"
  before=$(state "$dir")
  "$cli" info --records "$dir/log.shp" > "$work/info.json" 2>"$work/err" || fail "$kind: info failed: $(cat "$work/err")"
  grep -q '"display_size_ft"' "$work/info.json" || fail "$kind: info gave no display size"
  "$cli" render "$rendered" "$dir/log.shp" --size 200x150 2>"$work/err"
  rs=$?
  "$cli" print "$out/page.pdf" "$dir/log.shp" 2>"$work/err2"
  ps=$?
  if [ $kind = fulldisk ]; then
    # The outputs cannot land: a message and status 1, and nothing of theirs stays.
    [ $rs = 1 ] && [ -s "$work/err" ] || fail "fulldisk: render status $rs"
    [ $ps = 1 ] && [ -s "$work/err2" ] || fail "fulldisk: print status $ps"
  else
    [ $rs = 0 ] || fail "$kind: render failed: $(cat "$work/err")"
    [ $ps = 0 ] || fail "$kind: print failed: $(cat "$work/err2")"
  fi
  after=$(state "$dir")
  if [ "$before" != "$after" ]; then
    fail "$kind: the input folder changed"
    diff <(echo "$before") <(echo "$after")
  fi
  [ $kind = hardlink ] && { [ "$(stat -c %h "$dir/log.gpe")" = 2 ] || fail "hardlink: the link was split"; }
  if [ $kind = fulldisk ]; then umount "$dir"; mounted=""; fi
done
# The viewer's load still writes the key it adds (the layer test checks it in
# process); here the settings the batch load kept in memory show in its output.
dir=$work/in-missing
"$cli" info "$dir/log.shp" | grep -q '"display_size_ft":' || fail "no display size"
[ -e "$dir/log.gpe" ] && fail "info created a .gpe"
[ $failures -eq 0 ]
