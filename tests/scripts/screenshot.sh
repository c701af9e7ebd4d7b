#!/bin/bash
# The README's picture: the sample farm opened in the main window under the
# offscreen platform, grabbed to a PNG, and checked for its size and for the
# rate colours of the as-applied log and the legend.
# Usage: screenshot.sh BUILD_DIR TESTDATA_DIR SHARED_TOOLS_DIR [OUTPUT.png]
# With OUTPUT.png the picture is kept there (docs/screenshot.png is made so).
set -u
build="$1"
output="${4:-}"
tool="$build/kestrune_screenshot"
here=$(cd "$(dirname "$0")/../.." && pwd)
if [ ! -x "$tool" ]; then
  echo "kestrune_screenshot not built in $build" >&2
  exit 77
fi
if ! /usr/bin/python3 -c "import shapefile" 2>/dev/null; then
  echo "pyshp (python3-pyshp) is missing" >&2
  exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

/usr/bin/python3 "$here/tools/make_sample_farm.py" "$work/farm" || exit 1
# Oldest first, as ./run.sh opens them: the log last, so its legend shows.
QT_QPA_PLATFORM=offscreen "$tool" "$work/shot.png" 1100 720 "$work/farm/soil-zones.shp" "$work/farm/field-boundary.shp" \
  "$work/farm/guidance.shp" "$work/farm/as-applied.shp" || { echo "FAIL: kestrune_screenshot" >&2; exit 1; }

# Size from the PNG header; colours from the decoded rows (8-bit RGB or RGBA).
/usr/bin/python3 - "$work/shot.png" <<'PY' || exit 1
import struct, sys, zlib
data = open(sys.argv[1], "rb").read()
assert data[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG"
pos, idat, header = 8, b"", None
while pos < len(data):
    length, kind = struct.unpack(">I4s", data[pos:pos + 8])
    body = data[pos + 8:pos + 8 + length]
    if kind == b"IHDR":
        header = struct.unpack(">IIBBBBB", body)
    elif kind == b"IDAT":
        idat += body
    pos += 12 + length
width, height, depth, colour = header[:4]
if (width, height) != (1100, 720):
    sys.exit("FAIL: picture is %dx%d, not 1100x720" % (width, height))
channels = {2: 3, 6: 4}[colour]
assert depth == 8
raw = zlib.decompress(idat)
stride = width * channels
rows, prev, i = [], bytearray(stride), 0
for _ in range(height):
    f = raw[i]; line = bytearray(raw[i + 1:i + 1 + stride]); i += 1 + stride
    for x in range(stride):
        a = line[x - channels] if x >= channels else 0
        b = prev[x]; c = prev[x - channels] if x >= channels else 0
        if f == 1: line[x] = (line[x] + a) & 255
        elif f == 2: line[x] = (line[x] + b) & 255
        elif f == 3: line[x] = (line[x] + (a + b) // 2) & 255
        elif f == 4:
            p = a + b - c; pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
            line[x] = (line[x] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
    rows.append(bytes(line)); prev = line
seen = set()
for y in range(0, height):
    r = rows[y]
    for x in range(0, width):
        seen.add(tuple(r[x * channels:x * channels + 3]))
# The automatic palette: magenta, red, yellow, green, dark green, cyan, blue, navy.
palette = {(255, 0, 255), (255, 0, 0), (255, 255, 0), (0, 255, 0), (0, 128, 0), (0, 255, 255), (0, 0, 255), (0, 0, 128)}
found = palette & seen
if len(found) < 6:
    sys.exit("FAIL: only %d legend colours in the picture" % len(found))
PY
if [ -n "$output" ]; then
  cp "$work/shot.png" "$output" || exit 1
fi
exit 0
