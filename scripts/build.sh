#!/usr/bin/env bash
# Configures and builds into build/ (KESTRUNE_SANITIZE=1 for ASan and UBSan).
set -euo pipefail
cd "$(dirname "$0")/.."

sanitize=OFF
if [ "${KESTRUNE_SANITIZE:-0}" = "1" ]; then
  sanitize=ON
fi
# A compiler cache, when the machine has one, makes rebuilds of a fresh clone quick.
launcher=()
if command -v ccache >/dev/null 2>&1; then
  # Paths below the checkout are hashed relative to it, so clones in other
  # folders share the cache.
  cache="env;CCACHE_BASEDIR=$PWD;CCACHE_NOHASHDIR=1;ccache"
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER="$cache" -DCMAKE_C_COMPILER_LAUNCHER="$cache")
fi
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTRUNE_SANITIZE=$sanitize "${launcher[@]}"
# Files come and go through globs; make moc look again so a new header's
# meta-object code is never missing from an incremental build.
find build -maxdepth 2 -path '*_autogen/timestamp' -delete 2>/dev/null || true
cmake --build build "$@"
