#!/usr/bin/env bash
# Installs what is missing, builds into build/ and opens the viewer.
set -euo pipefail
cd "$(dirname "$0")"

./scripts/install-deps.sh
./scripts/build.sh --target kestrune
exec ./build/kestrune "$@"
