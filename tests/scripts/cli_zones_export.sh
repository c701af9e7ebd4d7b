#!/usr/bin/env bash
# The zones written as a new shape file set (`zones ... --out`), read back
# with pyshp: one polygon per zone in the zones' order and place, the
# figures of each zone's JSON line as its fields; a failed write leaves the
# files of that name as they were and prints nothing.
#
#   bash cli_zones_export.sh BUILD_DIR TESTDATA_DIR SHARED_TOOLS_DIR
# Exit 77 (skipped) without the test data or pyshp, unless KESTRUNE_REQUIRE_TESTDATA=1.
set -u

build=$1
data=$2

skip() {
  if [ "${KESTRUNE_REQUIRE_TESTDATA:-0}" = 1 ]; then
    echo "KESTRUNE_REQUIRE_TESTDATA=1 but $1" >&2
    exit 1
  fi
  echo "$1: skipped"
  exit 77
}
[ -f "$data/field/yield-simple1.shp" ] || skip "the test data folder is absent"
/usr/bin/python3 -c "import shapefile" 2>/dev/null || skip "pyshp (python3-pyshp) is missing"
cli=$build/kestrune-cli
[ -x "$cli" ] || { echo "$cli is missing: build the kestrune-cli target" >&2; exit 1; }

work=$(mktemp -d)
trap 'chmod -R u+w "$work"; rm -rf "$work"' EXIT
export XDG_CONFIG_HOME=$work/config
cp "$data"/field/ssurgo-simple1.* "$data"/field/yield-simple1.* "$work"/
mkdir "$work/out"

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

# A stale legend under the new name is not adopted by the new set.
printf 'stale' > "$work/out/zones.lgd"
"$cli" zones "$work/ssurgo-simple1.shp" "$work/yield-simple1.shp" --field Yld_Vol_Dr --label musym \
  --out "$work/out/zones.shp" > "$work/lines" 2> "$work/err" || fail "zones --out: $(cat "$work/err")"
[ -e "$work/out/zones.lgd" ] && fail "the stale legend stayed beside the new set"
for ext in shp shx dbf prj cpg; do [ -s "$work/out/zones.$ext" ] || fail "zones.$ext is missing"; done

/usr/bin/python3 - "$work/ssurgo-simple1" "$work/out/zones" "$work/lines" <<'PY' || fail "the set read back"
import sys, json, shapefile
zones, out, lines = shapefile.Reader(sys.argv[1]), shapefile.Reader(sys.argv[2]), [json.loads(l) for l in open(sys.argv[3])]
assert out.shapeType == shapefile.POLYGON, out.shapeType
rows = lines[:-1]
assert len(out) == len(zones) == len(rows), (len(out), len(zones), len(rows))
names = [f[0] for f in out.fields[1:]]
# Acres, or hectares with the metric units.
area = names[3]
assert area in ("AREA_AC", "AREA_HA"), names
want = ["ZONE", "RECORD", "COUNT", area, "Yld_Vo_MIN", "Yld_Vo_MAX", "Yld_Vo_AVG", "Yld_Vo_WAV", "Yld_Vo_SD"]
assert names == want, names
def close(a, b, rel=1e-9):
    return abs(a - b) <= rel * max(1.0, abs(b))
for i, (shape, rec, line) in enumerate(zip(out.shapes(), out.records(), rows)):
    src = zones.shape(i)
    # The same rings, to the map's resolution.
    assert len(shape.points) == len(src.points), (i, len(shape.points), len(src.points))
    for (x, y), (sx, sy) in zip(shape.points, src.points):
        assert abs(x - sx) < 1e-6 and abs(y - sy) < 1e-6, (i, x, y, sx, sy)
    assert rec["ZONE"] == line["zone"] == zones.record(i)["musym"].strip(), (rec["ZONE"], line["zone"])
    assert rec["RECORD"] == line["record"] == i + 1
    assert rec["COUNT"] == line["count"], (rec["COUNT"], line["count"])
    assert close(rec[area], line["area"]), (rec[area], line["area"])
    stats = line["fields"]["Yld_Vol_Dr"]
    for field, key in (("MIN", "min"), ("MAX", "max"), ("AVG", "mean"), ("WAV", "wmean"), ("SD", "sd")):
        got, expected = rec["Yld_Vo_" + field], stats[key]
        if expected is None:
            assert got is None, (i, field, got)
        else:
            assert close(got, expected), (i, field, got, expected)
PY

# Onto an input, or without ".shp": refused, nothing printed, the inputs unchanged.
sum_before=$(cat "$work"/ssurgo-simple1.* | md5sum)
for target in "$work/ssurgo-simple1.shp" "$work/out/zones.dbf"; do
  if "$cli" zones "$work/ssurgo-simple1.shp" "$work/yield-simple1.shp" --field Yld_Vol_Dr --out "$target" \
      > "$work/lines2" 2> "$work/err"; then
    fail "--out $target was taken"
  fi
  [ -s "$work/lines2" ] && fail "--out $target printed lines"
  [ -s "$work/err" ] || fail "--out $target said nothing"
done
[ "$(cat "$work"/ssurgo-simple1.* | md5sum)" = "$sum_before" ] || fail "the zone file changed"

# A folder that cannot be written: the set already there stays whole.
if [ "$(id -u)" != 0 ]; then
  sum_out=$(cat "$work"/out/zones.* | md5sum)
  chmod a-w "$work/out"
  if "$cli" zones "$work/ssurgo-simple1.shp" "$work/yield-simple1.shp" --field Yld_Vol_Dr --out "$work/out/zones.shp" \
      > /dev/null 2> "$work/err"; then
    fail "a write into a read-only folder succeeded"
  fi
  chmod u+w "$work/out"
  [ "$(cat "$work"/out/zones.* | md5sum)" = "$sum_out" ] || fail "the set in the read-only folder changed"
fi

if [ "$failures" -gt 0 ]; then
  echo "$failures failure(s)" >&2
  exit 1
fi
echo "zones export: ok"
