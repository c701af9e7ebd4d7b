#!/usr/bin/env bash
# kestrune-cli render and info of a big point log through the layer cache,
# which keeps each record's value and log flags: the cached run gives the PNG
# bytes and info lines of a run with KESTRUNE_LAYER_CACHE=0, and so does the
# run after the ".gpe" names a theme field the cache did not keep, and the
# one after that (whose cache holds the new field's values).
#
#   bash cli_layer_cache_values.sh BUILD_DIR TESTDATA_DIR SHARED_TOOLS_DIR
# Exit 77 (skipped) without python3 and pyshp to write the log.
set -u

build=$1
tools=$3
cli=$build/kestrune-cli

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_CONFIG_HOME=$work/config
export XDG_CACHE_HOME=$work/cache XDG_RUNTIME_DIR=$work/config
mkdir -p -m 700 "$work/config"
unset KESTRUNE_LAYER_CACHE
failures=0

fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# Over one pool block of points, so several cores fill the records.
if ! /usr/bin/python3 "$tools/make_field_log.py" "$work/log" --points 70000 >/dev/null 2>&1; then
  echo "python3 with pyshp is needed to write the log: skipped"
  exit 77
fi
shp=$work/log/points.shp

# Fields: Rate, Target, Boom, Speed, Elev, Product, Logged, Time, Width.
for theme in 1 2 5; do
  printf '[Options]\r\nLEGEND_COL=%s\r\nCOLOR_METHOD=1\r\n' "$theme" >"$work/log/points.gpe"
  KESTRUNE_LAYER_CACHE=0 "$cli" render "$work/plain.png" "$shp" --size 800x600 || fail "theme $theme: plain render"
  KESTRUNE_LAYER_CACHE=0 "$cli" info --records "$shp" >"$work/plain.jsonl" || fail "theme $theme: plain info"
  # The first run reads the new theme's values and caches them; the second
  # and the info take them from the cache.
  for run in first cached; do
    "$cli" render "$work/$run.png" "$shp" --size 800x600 || fail "theme $theme: $run render"
    cmp -s "$work/plain.png" "$work/$run.png" || fail "theme $theme: the $run render differs"
    # The cache is whole when the first run ends: the second, started at once,
    # opens from it instead of writing another (a new file, a new inode).
    written=$(stat -c %i "$XDG_CACHE_HOME"/Kestrune/layers/*.kly 2>/dev/null)
    [ -n "$written" ] || fail "theme $theme: no cache after the $run render"
    [ "$run" = first ] && inode=$written
    [ "$written" = "$inode" ] || fail "theme $theme: the cached render wrote the cache again"
  done
  "$cli" info --records "$shp" >"$work/cached.jsonl" || fail "theme $theme: cached info"
  cmp -s "$work/plain.jsonl" "$work/cached.jsonl" || fail "theme $theme: the cached info differs"
  [ "$(wc -l <"$work/cached.jsonl")" -eq 70001 ] || fail "theme $theme: not every record listed"
done

if [ "$failures" -ne 0 ]; then
  echo "$failures failure(s)" >&2
  exit 1
fi
echo "layer cache with values by record: same pictures and records, cached and parsed"
