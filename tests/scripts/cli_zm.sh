#!/usr/bin/env bash
# Z and M shape files read as their plain twins: for each Z or M file of the
# test data, pyshp writes a plain twin (same X and Y, fields and rows); then
# `kestrune-cli info --records` of the Z/M file must give the twin's records
# (compare_info.py), and each record's "z" and "m" must be what pyshp reads
# (a number for a point, [min, max] for others, null when absent; M values
# below -1e38 are absent). A MultiPatch stays refused, naming its type.
#
#   bash cli_zm.sh BUILD_DIR TESTDATA_DIR SHARED_TOOLS_DIR
# Exit 77 (skipped) without the test data or pyshp, unless KESTRUNE_REQUIRE_TESTDATA=1.
set -u
build=$1
data=$2
tools=$3
py=/usr/bin/python3
[ -x "$py" ] || py=python3

skip() {
  if [ "${KESTRUNE_REQUIRE_TESTDATA:-0}" = 1 ]; then
    echo "KESTRUNE_REQUIRE_TESTDATA=1 but $1" >&2
    exit 1
  fi
  echo "$1: skipped"
  exit 77
}
[ -d "$data/shapes" ] || skip "$data/shapes is missing"
"$py" -c 'import shapefile' 2>/dev/null || skip "pyshp (python3-pyshp) is missing"
cli=$build/kestrune-cli

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_CONFIG_HOME=$work/config
failures=0
checked=0

for shp in "$data"/shapes/*.shp; do
  name=$(basename "$shp" .shp)
  type=$("$py" -c 'import shapefile,sys; print(shapefile.Reader(sys.argv[1]).shapeType)' "$shp")
  case "$type" in
    11|13|15|18|21|23|25|28) ;;
    *) continue ;;
  esac
  mkdir -p "$work/$name"
  cp "$data/shapes/$name".* "$work/$name/"
  chmod u+w "$work/$name"/*
  # The plain twin, written by pyshp from the Z/M file's X, Y, fields and rows.
  "$py" - "$work/$name/$name.shp" "$work/$name/twin" <<'PY'
import shapefile, sys
r = shapefile.Reader(sys.argv[1])
plain = {11: 1, 21: 1, 13: 3, 23: 3, 15: 5, 25: 5, 18: 8, 28: 8}[r.shapeType]
w = shapefile.Writer(sys.argv[2], shapeType=plain)
for f in r.fields[1:]:
    w.field(*f)
for sr in r.iterShapeRecords():
    s = sr.shape
    pts = [(p[0], p[1]) for p in s.points]
    if s.shapeType == 0:
        w.null()
    elif plain == 1:
        w.point(*pts[0])
    elif plain == 8:
        w.multipoint(pts)
    else:
        parts = list(s.parts) + [len(pts)]
        rings = [pts[parts[i]:parts[i + 1]] for i in range(len(parts) - 1)]
        (w.line if plain == 3 else w.poly)(rings)
    w.record(*sr.record)
w.close()
PY
  "$cli" info --records "$work/$name/twin.shp" >"$work/$name.twin.jsonl" 2>"$work/$name.twin.err"
  "$cli" info --records "$work/$name/$name.shp" >"$work/$name.jsonl" 2>"$work/$name.err"
  status=$?
  checked=$((checked + 1))
  if [ $status -ne 0 ]; then
    echo "FAIL $name: exit $status: $(cat "$work/$name.err")"
    failures=$((failures + 1))
    continue
  fi
  if ! result=$(python3 "$tools/compare_info.py" "$work/$name.twin.jsonl" "$work/$name.jsonl"); then
    echo "FAIL $name against its plain twin:"
    echo "$result"
    failures=$((failures + 1))
  fi
  if ! "$py" - "$work/$name/$name.shp" "$work/$name.jsonl" <<'PY'
import json, math, shapefile, sys
r = shapefile.Reader(sys.argv[1])
lines = [json.loads(l) for l in open(sys.argv[2], encoding="utf-8")]
kind = "z" if r.shapeType in (11, 13, 15, 18) else "m"
bad = []
if lines[0].get("zm") != kind:
    bad.append("summary zm %r, expected %r" % (lines[0].get("zm"), kind))
shapes = r.shapes()
def expect(values, point):
    values = [v for v in (values or []) if v is not None and not (isinstance(v, float) and math.isnan(v)) and v >= -1e38]
    if not values:
        return None
    return values[0] if point else [min(values), max(values)]
for line in lines[1:]:
    s = shapes[line["rec"] - 1]
    point = s.shapeType in (11, 21)
    z = expect(getattr(s, "z", None), point) if kind == "z" else None
    m = expect(getattr(s, "m", None), point)
    for key, want in (("z", z), ("m", m)):
        if line.get(key, "missing") != want:
            bad.append("record %d %s: %r, expected %r" % (line["rec"], key, line.get(key, "missing"), want))
for b in bad:
    print(b)
sys.exit(1 if bad else 0)
PY
  then
    echo "FAIL $name: z/m values differ from pyshp's reading"
    failures=$((failures + 1))
  else
    echo "ok   $name ($(($(wc -l <"$work/$name.jsonl") - 1)) records)"
  fi
done

# The MultiPatch stays refused: today's message, then the type it found.
mkdir -p "$work/mp"
cp "$data/shapes/multipatch".* "$work/mp/"
"$cli" info "$work/mp/multipatch.shp" >"$work/mp.out" 2>"$work/mp.err"
status=$?
if [ $status -ne 1 ] || [ -s "$work/mp.out" ] || [ "$(head -1 "$work/mp.err")" != "Unknown Shape file type." ] ||
   ! grep -q "multipatch.shp is of type 31 (MultiPatch)" "$work/mp.err"; then
  echo "FAIL multipatch: exit $status, stderr: $(cat "$work/mp.err")"
  failures=$((failures + 1))
fi

[ $checked -ge 3 ] || { echo "FAIL: only $checked Z/M files found"; failures=$((failures + 1)); }
echo "$checked Z/M files checked, $failures failures"
[ $failures -eq 0 ]
