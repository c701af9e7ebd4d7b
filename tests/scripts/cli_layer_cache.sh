#!/usr/bin/env bash
# kestrune-cli render and info with the layer cache: the first run writes a
# cache under $XDG_CACHE_HOME/Kestrune/layers (never beside the files), the
# second opens from it, and both give the same PNG bytes and the same info
# lines as a run with KESTRUNE_LAYER_CACHE=0, which writes no cache at all.
#
#   bash cli_layer_cache.sh BUILD_DIR TESTDATA_DIR SHARED_TOOLS_DIR
# Exit 77 (skipped) without the test data, unless KESTRUNE_REQUIRE_TESTDATA=1.
set -u

build=$1
data=$2

if [ ! -d "$data/field" ]; then
  if [ "${KESTRUNE_REQUIRE_TESTDATA:-0}" = 1 ]; then
    echo "KESTRUNE_REQUIRE_TESTDATA=1 but $data/field is missing" >&2
    exit 1
  fi
  echo "test data folder absent: skipped"
  exit 77
fi
cli=$build/kestrune-cli

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_CONFIG_HOME=$work/config
export XDG_CACHE_HOME=$work/cache
unset KESTRUNE_LAYER_CACHE
failures=0

fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

for set in field/yield-simple1 field/as-applied-simple1 field/ssurgo-simple1 field/field_boundary_with_holes \
  field/ab-line-simple1 shapes/multipoint; do
  name=$(basename "$set")
  dir=$work/data/$name
  mkdir -p "$dir"
  cp "$data/$set".* "$dir/"
  shp=$dir/$name.shp
  before=$(ls "$dir" | sort)

  KESTRUNE_LAYER_CACHE=0 "$cli" render "$work/$name-plain.png" "$shp" || fail "$name: plain render"
  KESTRUNE_LAYER_CACHE=0 "$cli" info --records "$shp" >"$work/$name-plain.jsonl" || fail "$name: plain info"
  [ -d "$XDG_CACHE_HOME/Kestrune/layers" ] && [ -n "$(ls "$XDG_CACHE_HOME/Kestrune/layers")" ] &&
    fail "$name: a cache was written with KESTRUNE_LAYER_CACHE=0"

  "$cli" render "$work/$name-first.png" "$shp" || fail "$name: first render"
  count=$(ls "$XDG_CACHE_HOME/Kestrune/layers"/*.kly 2>/dev/null | wc -l)
  [ "$count" -ge 1 ] || fail "$name: no cache file after the first render"
  "$cli" render "$work/$name-cached.png" "$shp" || fail "$name: cached render"
  "$cli" info --records "$shp" >"$work/$name-cached.jsonl" || fail "$name: cached info"

  cmp -s "$work/$name-plain.png" "$work/$name-first.png" || fail "$name: first render differs"
  cmp -s "$work/$name-plain.png" "$work/$name-cached.png" || fail "$name: cached render differs"
  cmp -s "$work/$name-plain.jsonl" "$work/$name-cached.jsonl" || fail "$name: cached info differs"
  [ "$(ls "$dir" | sort)" = "$before" ] || fail "$name: files appeared beside the set"
  rm -rf "$XDG_CACHE_HOME"
done

# A damaged cache file is ignored and replaced.
shp=$work/data/yield-simple1/yield-simple1.shp
"$cli" render "$work/a.png" "$shp" || fail "render before damage"
cache=$(ls "$XDG_CACHE_HOME/Kestrune/layers"/*.kly)
printf 'XXXXXXXX' | dd of="$cache" bs=1 seek=4000 conv=notrunc status=none
"$cli" render "$work/b.png" "$shp" || fail "render of a damaged cache"
cmp -s "$work/a.png" "$work/b.png" || fail "the damaged cache changed the picture"
head -c 1000 "$cache" >"$cache.cut" && mv "$cache.cut" "$cache"
"$cli" render "$work/c.png" "$shp" || fail "render of a truncated cache"
cmp -s "$work/a.png" "$work/c.png" || fail "the truncated cache changed the picture"

if [ "$failures" -ne 0 ]; then
  echo "$failures failure(s)" >&2
  exit 1
fi
echo "layer cache: same pictures and records, cached and parsed"
