#!/bin/bash
# The level check of the build: the tree as it is passes, and each kind of
# include that runs upward, added to a copy of it, fails with a line naming it.
# Usage: levels.sh BUILD_DIR TESTDATA_DIR SHARED_TOOLS_DIR
set -u
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
# The levels as the build lists them, bottom first.
levels=$(sed -n 's/^set(KESTRUNE_LEVELS \(.*\))$/\1/p' "$source_dir/CMakeLists.txt" | tr ' ' ';')
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

check() {  # check TREE: runs the level check over TREE, output in $work/out
  cmake -DSRC="$1" "-DLEVELS=$levels" -DSTAMP="$work/stamp" -P "$source_dir/cmake/CheckLevels.cmake" \
    >"$work/out" 2>&1
}

if ! check "$source_dir/src"; then
  echo "FAIL: the tree itself does not pass the level check:" >&2
  cat "$work/out" >&2
  failures=$((failures + 1))
fi

# file to change | line added | what the message must name
while IFS='|' read -r file line expect; do
  rm -rf "$work/src"
  cp -r "$source_dir/src" "$work/src"
  printf '%s\n' "$line" >>"$work/src/$file"
  if check "$work/src"; then
    echo "FAIL: $line in $file passed the level check" >&2
    failures=$((failures + 1))
  elif ! grep -qF "$expect" "$work/out"; then
    echo "FAIL: the message for $line in $file does not say \"$expect\":" >&2
    cat "$work/out" >&2
    failures=$((failures + 1))
  fi
done <<'CASES'
shapes/Shape.cpp|#include "layers/Layer.h"|a level above 'shapes'
base/Platform.h|#include "app/Commands.h"|a level above 'base'
layers/Legend.cpp|#include "layers/gui/CLayersWnd.h"|a widget header, included by core code
geo/gui/QPainterCanvas.cpp|#include "mapview/gui/CMapWnd.h"|a level above 'geo'
grid/SheetModel.cpp|#include "../layers/Layer.h"|climbs out of its folder
CASES

if [ "$failures" -ne 0 ]; then
  echo "$failures level check case(s) failed" >&2
  exit 1
fi
echo "level check: 6 cases passed"
