#!/usr/bin/env bash
# Installs what is missing, builds into build/ and runs every test with ctest.
#   KESTRUNE_SANITIZE=1  build and test with AddressSanitizer and UndefinedBehaviorSanitizer
#   KESTRUNE_FUZZ=1      also build the fuzz targets with clang and run their seed corpora once
#   KESTRUNE_REQUIRE_TESTDATA=1  a missing ../shared/testdata is a failure, not a skip
set -euo pipefail
cd "$(dirname "$0")"

./scripts/install-deps.sh
./scripts/build.sh

export QT_QPA_PLATFORM=offscreen
status=0
ctest --test-dir build --output-on-failure -j2 --timeout 600 || status=1

if [ "${KESTRUNE_FUZZ:-0}" = "1" ]; then
  CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTRUNE_FUZZ=ON
  cmake --build build-fuzz
  ctest --test-dir build-fuzz --output-on-failure --timeout 600 || status=1
fi
exit $status
