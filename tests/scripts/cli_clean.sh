#!/usr/bin/env bash
# kestrune-cli clean and copy --where over a generated combine log with
# planted faults (clean_log_check.py says what is checked).
#
#   bash cli_clean.sh BUILD_DIR TESTDATA_DIR SHARED_TOOLS_DIR
# Exit 77 (skipped) without pyshp.
set -u
build=$1
here=$(cd "$(dirname "$0")" && pwd)
if ! /usr/bin/python3 -c 'import shapefile' 2>/dev/null; then
  echo "pyshp absent: skipped"
  exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_CONFIG_HOME=$work/config
/usr/bin/python3 "$here/clean_log_check.py" "$build/kestrune-cli" "$work"
