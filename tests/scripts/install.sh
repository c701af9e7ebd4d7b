#!/bin/bash
# `cmake --install` into a fresh prefix: the three programs answer --version
# with the project's version, the desktop entry and the AppStream metainfo pass
# their validators, the shape file type builds into a MIME database with its
# glob and magic, and every icon is the size its folder says.
# Usage: install.sh BUILD_DIR TESTDATA_DIR SHARED_TOOLS_DIR
set -u
build="$1"
for tool in desktop-file-validate appstreamcli update-mime-database; do
  if ! command -v "$tool" >/dev/null; then
    echo "$tool is missing (desktop-file-utils, appstream, shared-mime-info)" >&2
    exit 77
  fi
done
for program in kestrune kestrune-cli krlang; do
  if [ ! -x "$build/$program" ]; then
    echo "$program not built in $build" >&2
    exit 77
  fi
done
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" >"$prefix.log" 2>&1 || { cat "$prefix.log" >&2; rm -f "$prefix.log"; fail "cmake --install"; }
rm -f "$prefix.log"
share="$prefix/share"
id=com.quillmer.Kestrune
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
[ -n "$version" ] || fail "no project version in the build's cache"

for program in kestrune kestrune-cli krlang; do
  [ -x "$prefix/bin/$program" ] || fail "bin/$program not installed"
  got=$("$prefix/bin/$program" --version) || fail "$program --version exits with an error"
  [ "$got" = "$program $version" ] || fail "$program --version says '$got', not '$program $version'"
done

desktop="$share/applications/$id.desktop"
[ -f "$desktop" ] || fail "no desktop entry"
desktop-file-validate "$desktop" || fail "desktop-file-validate"
grep -qx 'Exec=kestrune %f' "$desktop" || fail "Exec is not 'kestrune %f'"
grep -qx 'MimeType=application/x-esri-shape;' "$desktop" || fail "MimeType is not the shape file type"

metainfo="$share/metainfo/$id.metainfo.xml"
[ -f "$metainfo" ] || fail "no metainfo"
appstreamcli validate --no-net --strict "$metainfo" || fail "appstreamcli validate"
grep -q "<release version=\"$version\"" "$metainfo" || fail "metainfo's release is not $version"
appstreamcli validate-tree --no-net "$prefix" >/dev/null || fail "appstreamcli validate-tree"

# The type's XML builds a database (the install has run update-mime-database
# already; again here so a failure shows) that knows the glob and the magic.
[ -f "$share/mime/packages/$id.xml" ] || fail "no shared-mime-info package"
update-mime-database "$share/mime" 2>/dev/null || fail "update-mime-database"
grep -q '^50:application/x-esri-shape:\*\.shp$' "$share/mime/globs2" || fail "no *.shp glob in globs2"
grep -aq 'application/x-esri-shape' "$share/mime/magic" || fail "no magic for the type"
/usr/bin/python3 - "$share/mime/magic" <<'PY' || fail "the magic is not 0x0000270A big-endian at offset 0"
import sys
data = open(sys.argv[1], "rb").read()
at = data.index(b"application/x-esri-shape")
# After the type line: ">0=" then a 2-byte big-endian length and the bytes.
rule = data[data.index(b"\n", at) + 1:]
assert rule.startswith(b">0=\x00\x04\x00\x00\x27\x0a"), rule[:12]
PY

for size in 16 24 32 48 64 128 256; do
  icon="$share/icons/hicolor/${size}x${size}/apps/kestrune.png"
  [ -f "$icon" ] || fail "no ${size}px icon"
  dims=$(/usr/bin/python3 -c 'import struct,sys; d=open(sys.argv[1],"rb").read(24); print("%dx%d" % struct.unpack(">II", d[16:24]))' "$icon")
  [ "$dims" = "${size}x${size}" ] || fail "the ${size}px icon is $dims"
done
grep -qx 'Icon=kestrune' "$desktop" || fail "the entry's icon is not kestrune"
exit 0
