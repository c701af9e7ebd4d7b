#!/usr/bin/env bash
# kestrune-cli info --records over every shape file of the test data, each file
# set copied to a scratch folder first (loading may write its ".gpe"), compared
# with expected/NAME.jsonl by compare_info.py, or for a refused file with
# expected/NAME.err (the message on stderr, nothing on stdout, exit status 1).
# Loading must leave the other files of the set as they were. Z and M files
# are read as their plain twins, which cli_zm.sh checks: their ".err" files
# (from builds that refused them) no longer apply. A refused file's message
# is the first line of stderr; the lines after it say more (the type found).
#
#   bash cli_info.sh BUILD_DIR TESTDATA_DIR SHARED_TOOLS_DIR
# Exit 77 (skipped) without the test data, unless KESTRUNE_REQUIRE_TESTDATA=1.
set -u

build=$1
data=$2
tools=$3

if [ ! -d "$data/expected" ]; then
  if [ "${KESTRUNE_REQUIRE_TESTDATA:-0}" = 1 ]; then
    echo "KESTRUNE_REQUIRE_TESTDATA=1 but $data/expected is missing" >&2
    exit 1
  fi
  echo "test data folder absent: skipped"
  exit 77
fi
cli=$build/kestrune-cli
if [ ! -x "$cli" ]; then
  echo "$cli is missing: build the kestrune-cli target" >&2
  exit 1
fi

work=$(mktemp -d)
trap 'chmod -R u+w "$work"; rm -rf "$work"' EXIT
# The default preferences (metric, 30 ft symbols), whatever the user has set.
export XDG_CONFIG_HOME=$work/config

failures=0
checked=0
used=()
for shp in "$data"/*/*.shp; do
  folder=$(dirname "$shp")
  name=$(basename "$shp" .shp)
  case "$name" in
    pointz|polylinem|polygonz)
      used+=("$name.err")
      continue
      ;;
  esac
  set=$work/sets/$(basename "$folder")/$name
  mkdir -p "$set"
  cp "$folder/$name".* "$set"/
  chmod u+w "$set"/*
  before=$(cd "$set" && ls)

  out=$work/$name.out
  err=$work/$name.errout
  "$cli" info --records "$set/$name.shp" >"$out" 2>"$err"
  status=$?
  checked=$((checked + 1))

  if [ -f "$data/expected/$name.err" ]; then
    used+=("$name.err")
    if [ "$status" -ne 1 ] || [ -s "$out" ] || [ "$(head -1 "$err")" != "$(head -1 "$data/expected/$name.err")" ]; then
      echo "FAIL $name: expected exit 1, no output and the message of $name.err;" \
           "got exit $status, $(wc -c <"$out") bytes of output, stderr: $(cat "$err")"
      failures=$((failures + 1))
    fi
  elif [ -f "$data/expected/$name.jsonl" ]; then
    used+=("$name.jsonl")
    if [ "$status" -ne 0 ]; then
      echo "FAIL $name: exit $status: $(cat "$err")"
      failures=$((failures + 1))
    elif ! result=$(python3 "$tools/compare_info.py" "$data/expected/$name.jsonl" "$out"); then
      echo "FAIL $name:"
      echo "$result"
      failures=$((failures + 1))
    else
      echo "ok   $name: ${result##*$'\n'}"
    fi
  else
    echo "FAIL $name: no expected result in $data/expected"
    failures=$((failures + 1))
  fi

  # Nothing beside the file but its settings file may have been written.
  after=$(cd "$set" && ls)
  for f in $after; do
    case "$f" in
      "$name.gpe") ;;
      *)
        if ! printf '%s\n' "$before" | grep -qxF "$f"; then
          echo "FAIL $name: loading created $f"
          failures=$((failures + 1))
        elif ! cmp -s "$set/$f" "$folder/$f"; then
          echo "FAIL $name: loading changed $f"
          failures=$((failures + 1))
        fi
        ;;
    esac
  done
done

# Every expected result belongs to a file that was run.
for f in "$data"/expected/*; do
  base=$(basename "$f")
  if ! printf '%s\n' "${used[@]}" | grep -qxF "$base"; then
    echo "FAIL: $base has no shape file in the test data"
    failures=$((failures + 1))
  fi
done

echo "$checked files checked, $failures failures"
[ "$failures" -eq 0 ]
