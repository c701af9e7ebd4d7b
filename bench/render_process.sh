#!/usr/bin/env bash
# The whole `kestrune-cli render` process on a million logged points coloured
# by their "Rate", to a 1920x1080 PNG, against the floors of loading them (as
# bench_load measures them): the ".shp" read whole into memory and every point
# projected with the sphere Mercator; and the streaming floor of the same
# work, the points and the Rate column of the ".dbf", both files streamed at
# once in two threads. All in this one run.
#
#   bash bench/render_process.sh BUILD_DIR [DATA_DIR] [RUNS]
#
# BUILD_DIR must hold kestrune-cli and bench_load. DATA_DIR (default
# /tmp/kestrune_render_bench) gets points.shp from make_field_log.py when it
# has none; the render works on a temporary copy whose points.gpe colours by
# the Rate field through the legend.
# Prints the floor, then the process's wall time and its own split into
# loading, drawing and writing the PNG (median of RUNS, default 5): for a first
# open (the layer cache emptied before each run, so every run parses the files
# and writes the cache) and for a second open, served by the cache the run
# before wrote. The cache lives in a scratch folder, never the user's own.
set -eu

build=${1:?usage: render_process.sh BUILD_DIR [DATA_DIR] [RUNS]}
data=${2:-/tmp/kestrune_render_bench}
runs=${3:-5}
here=$(cd "$(dirname "$0")" && pwd)
tools=${KESTRUNE_SHARED_TOOLS_DIR:-$here/../../shared/tools}
python=/usr/bin/python3

cli=$build/kestrune-cli
floor=$build/bench/bench_load
for exe in "$cli" "$floor"; do
  [ -x "$exe" ] || { echo "$exe is missing: build kestrune-cli and bench_load" >&2; exit 1; }
done

mkdir -p "$data"
if [ ! -f "$data/points.shp" ]; then
  echo "writing 1,000,000 points into $data (make_field_log.py)" >&2
  "$python" "$tools/make_field_log.py" "$data" --points 1000000 >/dev/null
fi
# The Rate field's number (1-based, as the settings file counts fields).
rate=$("$python" - "$data/points.dbf" <<'EOF'
import sys
import shapefile
fields = [f[0] for f in shapefile.Reader(dbf=open(sys.argv[1], "rb")).fields[1:]]
print(fields.index("Rate") + 1)
EOF
)

# A fresh user: the default preferences, whatever the caller has set.
config=$(mktemp -d)
trap 'rm -rf "$config"' EXIT
export XDG_CONFIG_HOME=$config XDG_RUNTIME_DIR=$config XDG_CACHE_HOME=$config/cache
export QT_QPA_PLATFORM=offscreen
unset KESTRUNE_LAYER_CACHE

# The files are rendered from a copy, whose ".gpe" colours by Rate: nothing
# is written into the data set.
source_dir=$data
data=$config/data
mkdir -p "$data"
for ext in shp shx dbf; do cp "$source_dir/points.$ext" "$data/"; done
printf '[Options]\r\nLEGEND_COL=%s\r\nCOLOR_METHOD=1\r\n' "$rate" >"$data/points.gpe"

# The floors, from the same binary bench_load's figures come from (mean of its
# iterations): reading and projecting the ".shp" whole, and the streaming floor
# of the layer's load (the points and the Rate column, both files at once in
# two threads), with the layer load measured beside them.
floor_ms=$(KESTRUNE_BENCH_POINTS=$data/points.shp "$floor" --benchmark_filter='^LayerAgainstFloor' \
             --benchmark_format=json 2>/dev/null |
           "$python" -c 'import json,sys; b=json.load(sys.stdin)["benchmarks"][0]; print("%.1f %.1f %.1f" % (b["floor_ms"], b["stream_floor_ms"], b["load_ms"]))')
read -r floor_only stream_floor load_only <<<"$floor_ms"

median() { sort -n | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2}'; }

out=$config/points.png
# Times RUNS renders; "first" empties the layer cache before each of them.
# Sets wall, load, draw and write to the medians.
time_renders() {
  local walls=() loads=() draws=() writes=() line start end l d w i
  for ((i = 0; i < runs; i++)); do
    if [ "$1" = first ]; then rm -rf "$XDG_CACHE_HOME"; fi
    start=$(date +%s%N)
    line=$("$cli" render "$out" "$data/points.shp" --size 1920x1080 --timings 2>&1 >/dev/null | grep -E '^load ')
    end=$(date +%s%N)
    walls+=("$(( (end - start) / 1000000 ))")
    # "load L ms, draw D ms, write W ms"
    read -r _ l _ _ d _ _ w _ <<<"${line//,/}"
    loads+=("$l") draws+=("$d") writes+=("$w")
  done
  wall=$(printf '%s\n' "${walls[@]}" | median)
  load=$(printf '%s\n' "${loads[@]}" | median)
  draw=$(printf '%s\n' "${draws[@]}" | median)
  write=$(printf '%s\n' "${writes[@]}" | median)
}
# One run to warm the page cache and the fonts, not counted.
"$cli" render "$out" "$data/points.shp" --size 1920x1080 >/dev/null 2>&1
time_renders first
first=("$wall" "$load" "$draw" "$write")
time_renders cached
cached=("$wall" "$load" "$draw" "$write")
size=$(stat -c %s "$out")

records=$("$python" -c 'import struct,sys; f=open(sys.argv[1],"rb"); f.seek(4); print(struct.unpack("<i", f.read(4))[0])' "$data/points.dbf")
printf 'points file           %s (%s records)\n' "$data/points.shp" "$records"
printf 'floor (read+project)  %8.1f ms\n' "$floor_only"
printf 'floor (streaming)     %8.1f ms   (the .shp points and the .dbf Rate column, two threads)\n' "$stream_floor"
printf 'layer load (bench)    %8.1f ms   (%.1fx read+project, %.1fx streaming)\n' "$load_only" \
  "$(awk -v a="$load_only" -v b="$floor_only" 'BEGIN {print a / b}')" \
  "$(awk -v a="$load_only" -v b="$stream_floor" 'BEGIN {print a / b}')"
# Prints one open's figures: a title, then wall, load, draw and write in ms.
report() {
  local title=$1 wall=$2 load=$3 draw=$4 write=$5
  printf '%-21s %8.1f ms   (median of %d; %.1fx the floor)\n' "$title" "$wall" "$runs" \
    "$(awk -v a="$wall" -v b="$floor_only" 'BEGIN {print a / b}')"
  printf '  loading             %8.1f ms   (open, read, project, colour; %.1fx read+project, %.1fx streaming)\n' \
    "$load" "$(awk -v a="$load" -v b="$floor_only" 'BEGIN {print a / b}')" \
    "$(awk -v a="$load" -v b="$stream_floor" 'BEGIN {print a / b}')"
  printf '  drawing             %8.1f ms\n' "$draw"
  printf '  writing the PNG     %8.1f ms   (%d bytes)\n' "$write" "$size"
  printf '  the rest            %8.1f ms   (process start, Qt, fonts, exit)\n' \
    "$(awk -v a="$wall" -v l="$load" -v d="$draw" -v w="$write" 'BEGIN {print a - l - d - w}')"
}
report "render, first open" "${first[@]}"
report "render, cached open" "${cached[@]}"
