#!/usr/bin/env bash
# Configures and builds into build/ (KESTRUNE_SANITIZE=1 for ASan and UBSan).
set -euo pipefail
cd "$(dirname "$0")/.."

sanitize=OFF
if [ "${KESTRUNE_SANITIZE:-0}" = "1" ]; then
  sanitize=ON
fi
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTRUNE_SANITIZE=$sanitize
cmake --build build "$@"
