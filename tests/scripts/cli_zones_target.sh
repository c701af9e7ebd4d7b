#!/usr/bin/env bash
# Target against actual: the as-applied log of the test data with a rate
# written beside its target (pyshp), checked against a direct computation:
# info's rate less target and rate in percent of target per record, and the
# area `zones` finds applied within 5 % and 10 % of the target.
#
#   bash cli_zones_target.sh BUILD_DIR TESTDATA_DIR SHARED_TOOLS_DIR
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
[ -f "$data/field/as-applied-simple1.shp" ] || skip "the test data folder is absent"
/usr/bin/python3 -c "import shapefile" 2>/dev/null || skip "pyshp (python3-pyshp) is missing"
cli=$build/kestrune-cli
[ -x "$cli" ] || { echo "$cli is missing: build the kestrune-cli target" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_CONFIG_HOME=$work/config
cp "$data"/field/boundary-simple1.* "$work"/

# LOG FACTORS...: the log's points with Rate = target × the factors in turn
# (record 3's target set to 0), and a 40 ft Width.
/usr/bin/python3 - "$data/field/as-applied-simple1" "$work" <<'PY'
import sys, shapefile
src, out = sys.argv[1], sys.argv[2]
r = shapefile.Reader(src)
def write(name, factors, zero_target):
    w = shapefile.Writer(out + "/" + name, shapeType=r.shapeType)
    for f in r.fields[1:]:
        w.field(*f)
    w.field("Rate", "N", 14, 6)
    w.field("Width", "N", 8, 2)
    for i, sr in enumerate(r.iterShapeRecords()):
        rec = list(sr.record)
        if zero_target and i == 2:
            rec[0] = 0
        rec += [round(rec[0] * factors[i % len(factors)], 6), 40]
        w.shape(sr.shape)
        w.record(*rec)
    w.close()
    with open(src + ".prj") as a, open(out + "/" + name + ".prj", "w") as b:
        b.write(a.read())
write("mixed", [1.03, 1.08, 0.9, 1.2, 0.97], True)
write("near", [1.03], False)
write("within10", [1.08], False)
write("far", [0.85], False)
PY

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

# Per record, against the table's own numbers.
"$cli" info --records "$work/mixed.shp" > "$work/mixed.jsonl" 2> "$work/err" || fail "info: $(cat "$work/err")"
/usr/bin/python3 - "$work/mixed" "$work/mixed.jsonl" <<'PY' || fail "info's rate against target"
import sys, json, math, shapefile
r = shapefile.Reader(sys.argv[1])
names = [f[0] for f in r.fields[1:]]
rate, tgt = names.index("Rate"), names.index("Tgt_Rate_k")
lines = [json.loads(l) for l in open(sys.argv[2])]
head = lines[0]
assert head["log_fields"]["rate"] == rate + 1, head["log_fields"]
assert head["target_field"] == tgt + 1, head
recs = r.records()
seen = 0
for line in lines[1:]:
    row = recs[line["rec"] - 1]
    diff, pct = line["rate_minus_target"], line["rate_pct_target"]
    assert abs(diff - (row[rate] - row[tgt])) <= 1e-9 * max(1, abs(row[rate])), (line["rec"], diff)
    if row[tgt] == 0:
        assert pct is None, (line["rec"], pct)
    else:
        assert abs(pct - row[rate] / row[tgt] * 100) <= 1e-9 * 100, (line["rec"], pct)
    seen += 1
assert seen == len(recs), (seen, len(recs))
PY

# Coloured by rate in percent of target: the legend centred on 100 and the
# statistics of the computed values.
rm -f "$work"/mixed.gpe
printf '[Options]\r\nCOLOR_METHOD=1\r\nLEGEND_COL=-5\r\n' > "$work/mixed.gpe"
"$cli" info "$work/mixed.shp" > "$work/pct.jsonl" 2> "$work/err" || fail "info (percent theme): $(cat "$work/err")"
/usr/bin/python3 - "$work/mixed" "$work/pct.jsonl" <<'PY' || fail "the percent theme"
import sys, json, statistics, shapefile
r = shapefile.Reader(sys.argv[1])
names = [f[0] for f in r.fields[1:]]
rate, tgt = names.index("Rate"), names.index("Tgt_Rate_k")
head = json.loads(open(sys.argv[2]).readline())
assert head["legend_column"] == -5, head["legend_column"]
pct = [row[rate] / row[tgt] * 100 for row in r.records() if row[tgt] not in (0, None) and row[rate] is not None]
stats = head["stats"]
assert stats["count"] == len(pct), (stats["count"], len(pct))
assert stats["blanks"] == len(r) - len(pct), stats
assert abs(stats["mean"] - statistics.fmean(pct)) <= 1e-9 * 100, (stats["mean"], statistics.fmean(pct))
assert abs(stats["min"] - min(pct)) <= 1e-9 * 100 and abs(stats["max"] - max(pct)) <= 1e-9 * 100, stats
# Seven classes around 100: the middle one holds 100, the breaks mirror about it.
breaks = [b for b, _ in head["legend"]][:-1]
assert len(breaks) == 6, head["legend"]
assert breaks[2] < 100 < breaks[3], breaks
for lo, hi in zip(breaks, reversed(breaks)):
    assert abs((lo + hi) / 2 - 100) < 1e-9, breaks
PY

# The applied area within the target's bands, by the field boundary (info
# may have written a settings file; zones must write none).
rm -f "$work"/*.gpe
for case in near:1:1 within10:0:1 far:0:0 mixed:x:x; do
  IFS=: read -r name in5 in10 <<< "$case"
  "$cli" zones "$work/boundary-simple1.shp" "$work/$name.shp" --field Rate > "$work/$name.zones" 2> "$work/err" ||
    { fail "zones $name: $(cat "$work/err")"; continue; }
  /usr/bin/python3 - "$work/$name.zones" "$in5" "$in10" <<'PY' || fail "zones $name"
import sys, json
lines = [json.loads(l) for l in open(sys.argv[1])]
rows = lines[:-1] + [lines[-1]]
for row in rows:
    a, w5, w10 = row["area"], row["within5"], row["within10"]
    assert 0 <= w5 <= w10 <= a * (1 + 1e-12), row
    for want, got in ((sys.argv[2], w5), (sys.argv[3], w10)):
        if want == "1":
            assert abs(got - a) <= 1e-9 * a, (row, want)
        elif want == "0":
            assert got == 0, (row, want)
assert sum(r["area"] for r in lines[:-1]) > 0, lines
PY
done

# Nothing was written beside the inputs.
ls "$work"/*.gpe >/dev/null 2>&1 && fail "a settings file appeared: $(ls "$work"/*.gpe)"

if [ "$failures" -gt 0 ]; then
  echo "$failures failure(s)" >&2
  exit 1
fi
echo "target against actual: ok"
