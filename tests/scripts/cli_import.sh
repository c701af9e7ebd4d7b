#!/usr/bin/env bash
# kestrune-cli import round trips: each field set of the test data is written
# by ogr2ogr as GeoJSON, KML, KMZ, GeoPackage and a zipped set; importing it
# and reading the imported set with `info --records` must give the records
# of the source set (compare_info.py, record lines; the source read without
# its ".gpe" and legend, as an import has none). Then the failures: an
# unknown format, a zip bomb and an existing result without --replace are
# refused with a message, exit 1 and nothing left behind; bad arguments exit 2;
# the source folder is never written but for NAME-import/.
#
#   bash cli_import.sh BUILD_DIR TESTDATA_DIR SHARED_TOOLS_DIR
set -u
build=$1
data=$2
tools=$3
if [ ! -d "$data/field" ] || ! command -v ogr2ogr >/dev/null; then
  if [ "${KESTRUNE_REQUIRE_TESTDATA:-0}" = 1 ]; then
    echo "KESTRUNE_REQUIRE_TESTDATA=1 but the field sets or ogr2ogr are missing" >&2
    exit 1
  fi
  echo "field sets or ogr2ogr absent: skipped"
  exit 77
fi
cli=$build/kestrune-cli
work=$(mktemp -d)
trap 'chmod -R u+w "$work"; rm -rf "$work"' EXIT
export XDG_CONFIG_HOME=$work/config
export XDG_DATA_HOME=$work/data
failures=0
fail() {
  echo "FAIL $*"
  failures=$((failures + 1))
}

# Record lines only: the summary's field widths are the import's own.
records_of() {
  python3 -c 'import sys
lines = open(sys.argv[1], encoding="utf-8").read().splitlines()
print("{\"records\": %d}" % (len(lines) - 1))
print("\n".join(lines[1:]))' "$1"
}

sets="boundary-simple1 field_boundary_with_holes ab-line-simple1 as-applied-simple1 ssurgo-simple1"
for name in $sets; do
  src=$work/src/$name
  mkdir -p "$src"
  for ext in shp shx dbf prj; do cp "$data/field/$name.$ext" "$src/"; done
  chmod u+w "$src"/*
  "$cli" info --records "$src/$name.shp" >"$work/$name.src.jsonl" 2>/dev/null || fail "$name: source unreadable"
  records_of "$work/$name.src.jsonl" >"$work/$name.src.rec"
  rm -f "$src/$name.gpe"

  for format in geojson kml kmz gpkg zip; do
    in=$work/in-$format-$name
    mkdir -p "$in"
    case $format in
      geojson) ogr2ogr -q -f GeoJSON -lco COORDINATE_PRECISION=15 "$in/$name.geojson" "$src/$name.shp" ;;
      kml) ogr2ogr -q -f KML "$in/$name.kml" "$src/$name.shp" ;;
      kmz) ogr2ogr -q -f LIBKML "$in/$name.kmz" "$src/$name.shp" ;;
      gpkg) ogr2ogr -q -f GPKG "$in/$name.gpkg" "$src/$name.shp" ;;
      zip) (cd "$src" && python3 -c 'import sys, zipfile
z = zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_DEFLATED)
for f in sys.argv[2:]:
    z.write(f)
z.close()' "$in/$name.zip" "$name.shp" "$name.shx" "$name.dbf" "$name.prj") ;;
    esac
    input=$in/$name.$format
    [ -f "$input" ] || { fail "$name.$format: ogr2ogr wrote nothing"; continue; }
    before=$(cd "$in" && ls -a | sort)
    if ! "$cli" import "$input" >"$work/out.json" 2>"$work/err.txt"; then
      fail "$name.$format: import failed: $(cat "$work/err.txt")"
      continue
    fi
    shp=$(python3 -c 'import json,sys; d = json.load(open(sys.argv[1])); print(d["sets"][0]["path"] if len(d["sets"]) == 1 else "")' "$work/out.json")
    if [ -z "$shp" ]; then
      fail "$name.$format: expected one set: $(cat "$work/out.json")"
      continue
    fi
    for ext in shx dbf prj cpg; do
      [ -f "${shp%.shp}.$ext" ] || fail "$name.$format: no .$ext beside $shp"
    done
    after=$(cd "$in" && ls -a | sort)
    expected=$(printf '%s\n%s\n' "$before" "$name-import" | sort)
    [ "$after" = "$expected" ] || fail "$name.$format: the source folder holds $(echo $after)"
    "$cli" info --records "$shp" >"$work/imp.jsonl" 2>"$work/err.txt" || fail "$name.$format: info: $(cat "$work/err.txt")"
    records_of "$work/imp.jsonl" >"$work/imp.rec"
    if ! result=$(python3 "$tools/compare_info.py" "$work/$name.src.rec" "$work/imp.rec"); then
      fail "$name.$format round trip:"
      echo "$result" | head -5
    else
      echo "ok   $name.$format: ${result##*$'\n'}"
    fi
  done
done

# An unknown format: refused, nothing written.
mkdir -p "$work/bad"
printf 'not a map\n' >"$work/bad/notes.geojson"
"$cli" import "$work/bad/notes.geojson" >"$work/out.json" 2>"$work/err.txt"
status=$?
{ [ $status -eq 1 ] && [ -s "$work/err.txt" ] && [ ! -s "$work/out.json" ] &&
  [ "$(ls -A "$work/bad")" = "notes.geojson" ]; } || fail "unknown format: exit $status, $(cat "$work/err.txt"), $(ls -A "$work/bad")"

# A zip bomb: 20 MB of zeros unpacks far beyond 100 times its size.
mkdir -p "$work/bomb"
python3 -c 'import sys, zipfile
z = zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_DEFLATED)
z.writestr("big.shp", bytes(20 * 1024 * 1024))
z.close()' "$work/bomb/big.zip"
"$cli" import "$work/bomb/big.zip" >"$work/out.json" 2>"$work/err.txt"
status=$?
{ [ $status -eq 1 ] && grep -q "unpack" "$work/err.txt" && [ "$(ls -A "$work/bomb")" = "big.zip" ]; } ||
  fail "zip bomb: exit $status, $(cat "$work/err.txt"), $(ls -A "$work/bomb")"

# Importing again: kept without --replace, replaced with it.
in=$work/in-geojson-boundary-simple1
"$cli" import "$in/boundary-simple1.geojson" >"$work/out.json" 2>"$work/err.txt"
status=$?
{ [ $status -eq 1 ] && grep -q "kept" "$work/err.txt" && [ "$(ls -A "$in" | grep -c import)" = 1 ]; } ||
  fail "import again: exit $status, $(cat "$work/err.txt"), $(ls -A "$in")"
"$cli" import "$in/boundary-simple1.geojson" --replace >"$work/out.json" 2>"$work/err.txt" ||
  fail "import --replace: $(cat "$work/err.txt")"
[ "$(ls -A "$in" | grep -c import)" = 1 ] || fail "import --replace left $(ls -A "$in")"

# A read-only source folder: the sets go to the data folder, the source
# folder stays as it was.
mkdir -p "$work/ro"
cp "$work/in-gpkg-ab-line-simple1/ab-line-simple1.gpkg" "$work/ro/"
chmod a-w "$work/ro"
"$cli" import "$work/ro/ab-line-simple1.gpkg" >"$work/out.json" 2>"$work/err.txt" || fail "read-only: $(cat "$work/err.txt")"
grep -q "\"folder\": \"$XDG_DATA_HOME/Kestrune/imports/ab-line-simple1-import\"" "$work/out.json" ||
  fail "read-only: $(cat "$work/out.json")"
[ "$(ls -A "$work/ro")" = "ab-line-simple1.gpkg" ] || fail "read-only folder now holds $(ls -A "$work/ro")"
chmod u+w "$work/ro"

# Bad arguments.
"$cli" import >/dev/null 2>&1
[ $? -eq 2 ] || fail "no argument: not exit 2"
"$cli" import a b c >/dev/null 2>&1
[ $? -eq 2 ] || fail "three arguments: not exit 2"
"$cli" import --bogus x >/dev/null 2>&1
[ $? -eq 2 ] || fail "unknown option: not exit 2"

# info on an input to import says what it is, on stderr, with exit 1.
"$cli" info "$in/boundary-simple1.geojson" >"$work/out.json" 2>"$work/err.txt"
status=$?
{ [ $status -eq 1 ] && grep -q "GeoJSON" "$work/err.txt" && grep -q "import" "$work/err.txt"; } ||
  fail "info on GeoJSON: exit $status, stderr: $(cat "$work/err.txt")"

echo "$failures failures"
[ $failures -eq 0 ]
