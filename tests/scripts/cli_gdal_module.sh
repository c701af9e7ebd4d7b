#!/usr/bin/env bash
# GDAL is loaded only for imports: the programs start without linking it; an
# import with the module missing fails with exit 1 and a message naming the
# module, while info and render of a shape file set work as before; with the
# module found again the same import succeeds.
#
#   bash cli_gdal_module.sh BUILD_DIR TESTDATA_DIR SHARED_TOOLS_DIR
set -u
build=$1
cli=$build/kestrune-cli
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data XDG_CACHE_HOME=$work/cache
failures=0
fail() {
  echo "FAIL $*"
  failures=$((failures + 1))
}

for program in kestrune kestrune-cli; do
  if ldd "$build/$program" | grep -q 'libgdal'; then fail "$program links GDAL at start"; fi
done

# A set of two points, and the same as GeoJSON, written by pyshp and by hand.
/usr/bin/python3 - "$work" <<'PY' || { echo "pyshp is missing" >&2; exit 1; }
import sys, shapefile
w = shapefile.Writer(sys.argv[1] + "/pts", shapeType=shapefile.POINT)
w.field("RATE", "N", 10, 2)
for x, y, r in [(-93.5, 42.1, 1.5), (-93.4, 42.2, 2.5)]:
    w.point(x, y)
    w.record(r)
w.close()
open(sys.argv[1] + "/pts.geojson", "w").write('{"type": "FeatureCollection", "features": ['
    '{"type": "Feature", "properties": {"RATE": 1.5}, "geometry": {"type": "Point", "coordinates": [-93.5, 42.1]}},'
    '{"type": "Feature", "properties": {"RATE": 2.5}, "geometry": {"type": "Point", "coordinates": [-93.4, 42.2]}}]}')
PY

mkdir -p "$work/out"
export KESTRUNE_GDAL_MODULE=$work/missing/libkestrune_gdal.so
"$cli" import "$work/pts.geojson" "$work/out" >"$work/stdout" 2>"$work/stderr"
status=$?
[ "$status" = 1 ] || fail "import without the module exits $status, not 1"
grep -q 'libkestrune_gdal.so' "$work/stderr" || fail "the message does not name the module: $(cat "$work/stderr")"
[ ! -e "$work/out/pts-import" ] || fail "a failed import left a folder"
"$cli" info "$work/pts.shp" >"$work/info" 2>"$work/stderr" || fail "info without the module: $(cat "$work/stderr")"
grep -q '"records": 2' "$work/info" || fail "info without the module: $(head -1 "$work/info")"
"$cli" render "$work/map.png" "$work/pts.shp" --size 64x48 2>"$work/stderr" || fail "render without the module: $(cat "$work/stderr")"

unset KESTRUNE_GDAL_MODULE
"$cli" import "$work/pts.geojson" "$work/out" >"$work/stdout" 2>"$work/stderr" || fail "import with the module: $(cat "$work/stderr")"
grep -q '"records": 2' "$work/stdout" || fail "import with the module: $(cat "$work/stdout")"

[ "$failures" = 0 ] || exit 1
echo "ok"
