#!/usr/bin/env bash
# Installs what is missing, builds into build/ and opens the viewer.
#
#   ./run.sh            opens the sample farm (made into ./sample/ on first use)
#   ./run.sh FILE.shp   opens that file
#
# The viewer's command line names one file (all words joined with spaces), so
# the sample's four files are opened the way a user opens several: the first
# start opens the first file, and each later start hands its file over to the
# running viewer and ends.
set -euo pipefail
cd "$(dirname "$0")"

./scripts/install-deps.sh
./scripts/build.sh --target kestrune

if [ $# -gt 0 ]; then
  exec ./build/kestrune "$@"
fi

sample=sample
# Drawn oldest first: the soil zones at the bottom, the boundary outline over
# them, the rate-coloured log on top
# (and, opened last, the active file whose legend the layers pane shows).
files=(soil-zones field-boundary guidance as-applied)
# Made again when it predates the display settings it now carries.
if [ ! -f "$sample/soil-zones.gpe" ]; then
  mkdir -p "$sample"
  /usr/bin/python3 tools/make_sample_farm.py "$sample"
fi

marker=$(mktemp)
trap 'rm -f "$marker"' EXIT
./build/kestrune "$PWD/$sample/${files[0]}.shp" &
viewer=$!

# Wait until the viewer listens for later starts (its socket appears), so the
# files open in order. If it ended instead, a viewer was already running and
# has taken the file. The socket is in the user's runtime folder, or in a
# private folder of the user's in the temporary folder or the cache.
socket_dirs=()
[ -n "${XDG_RUNTIME_DIR:-}" ] && socket_dirs+=("$XDG_RUNTIME_DIR")
socket_dirs+=("${TMPDIR:-/tmp}/kestrune-$(id -u)" "$HOME/.cache/kestrune")
for _ in $(seq 100); do
  kill -0 "$viewer" 2>/dev/null || break
  if find "${socket_dirs[@]}" -maxdepth 1 -type s -name "kestrune-*-$(id -un)-*" -newer "$marker" 2>/dev/null |
    grep -q .; then
    break
  fi
  sleep 0.1
done

for f in "${files[@]:1}"; do
  ./build/kestrune "$PWD/$sample/$f.shp"
done

wait "$viewer" 2>/dev/null || true
