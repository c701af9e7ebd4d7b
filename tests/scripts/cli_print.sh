#!/usr/bin/env bash
# kestrune-cli print and render as whole processes: the page of a real
# as-applied log (notes, legend) written to a PDF and read back with
# pdftotext -bbox, every block where the layout puts it; paper sizes; and the
# exit status and message of every kind of failure, for both subcommands.
#
#   bash cli_print.sh BUILD_DIR TESTDATA_DIR SHARED_TOOLS_DIR
# Exit 77 (skipped) without the test data, unless KESTRUNE_REQUIRE_TESTDATA=1.
set -u

build=$1
data=$2

if [ ! -d "$data/field" ]; then
  if [ "${KESTRUNE_REQUIRE_TESTDATA:-0}" = 1 ]; then
    echo "KESTRUNE_REQUIRE_TESTDATA=1 but $data/field is missing" >&2
    exit 1
  fi
  echo "test data folder absent: skipped"
  exit 77
fi
for tool in pdftotext pdfinfo pdftoppm pdffonts; do
  command -v "$tool" >/dev/null || { echo "$tool missing (poppler-utils): skipped"; exit 77; }
done
cli=$build/kestrune-cli
# The page reading helpers (page_check.py) live beside this script.
export PYTHONPATH="$(cd "$(dirname "$0")" && pwd)"
[ -x "$cli" ] || { echo "$cli is missing: build the kestrune-cli target" >&2; exit 1; }

work=$(mktemp -d)
trap 'chmod -R u+w "$work"; rm -rf "$work"' EXIT
# The default preferences, whatever the user has set; no display is needed.
export XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work
unset QT_QPA_PLATFORM DISPLAY WAYLAND_DISPLAY

set_dir=$work/set
mkdir -p "$set_dir"
for name in as-applied-simple1 boundary-simple1; do cp "$data/field/$name".* "$set_dir"/; done
cp "$data/shapes/multipatch".* "$set_dir"/
chmod u+w "$set_dir"/*

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# Runs the tool; checks the exit status and that stderr holds the text.
expect() {
  local status=$1 text=$2
  shift 2
  "$cli" "$@" >"$work/out" 2>"$work/err"
  local got=$?
  [ "$got" = "$status" ] || fail "$* exited $got, not $status: $(cat "$work/err")"
  grep -qF -- "$text" "$work/err" || fail "$* did not say '$text': $(cat "$work/err")"
  [ ! -s "$work/out" ] || fail "$* wrote on stdout"
}

# ---- The page of one log with notes and a legend, on Letter paper by default.
pdf=$work/page.pdf
"$cli" print "$pdf" "$set_dir/as-applied-simple1.shp" --orientation portrait 2>"$work/err" || fail "print exited $?: $(cat "$work/err")"
[ -s "$pdf" ] || fail "no PDF written"
pdfinfo "$pdf" | grep -q '^Page size: *612 x 792 pts' || fail "not a Letter page: $(pdfinfo "$pdf" | grep 'Page size')"
pdfinfo "$pdf" | grep -q '^Title: *Quillmer Kestrune$' || fail "document not named with the title"
pdftotext -bbox "$pdf" "$work/page.html"
# Every text is in one family, embedded; the program's own where the machine has it.
/usr/bin/python3 - "$pdf" <<'EOF' || fail "the page's fonts: $(pdffonts "$pdf")"
import subprocess, sys
import page_check
fonts = page_check.font_families(sys.argv[1])
families = {f for f, _ in fonts}
have = subprocess.run(["fc-list", "Liberation Sans"], capture_output=True, text=True).stdout.strip()
sys.exit(0 if fonts and all(e for _, e in fonts) and len(families) == 1 and
         (not have or families == {"LiberationSans"}) else 1)
EOF

/usr/bin/python3 - "$work/page.html" "$pdf" <<'EOF' || failures=$((failures + 1))
import sys
import page_check

lines = page_check.lines(page_check.words(sys.argv[1]))
text = {" ".join(w[4] for w in ws): ws for ws in lines}

problems = []
def check(ok, what):
    if not ok:
        problems.append(what)

def line(t):
    if t not in text:
        problems.append("missing line %r (lines: %r)" % (t, list(text)))
        return None
    return text[t]

pt = 72.0
# Qt's PDF printer keeps 10 points of margin: the printable area and its height.
left, top, height = 10.0, 10.0, 792.0 - 20.0
notes_head = line("Notes")
first = line("Applied UAN 32%, 15 April.")
second = line("Nozzles checked at the north headland.")
names = line("as-applied-simple1")
legend = [line(t) for t in ["Above 1600.00", "1400.00 - 1600.00", "1200.00 - 1400.00",
                            "1000.00 - 1200.00", "1000.00 and below"]]
if problems:
    print("\n".join(problems))
    sys.exit(1)

near = lambda a, b, tol=1.5: abs(a - b) <= tol
# Notes: the heading at the printable left, the notes a quarter inch in, line after line under it.
check(near(notes_head[0][0], left), "Notes heading not at the left edge: %.1f" % notes_head[0][0])
check(near(first[0][0] - notes_head[0][0], 0.25 * pt), "notes not indented a quarter inch")
check(notes_head[0][1] < first[0][1] < second[0][1], "notes not under their heading in order")
# The notes end half an inch above the page's bottom (their box may hold a last empty line).
notes_bottom = top + height - 0.5 * pt
check(second[0][3] <= notes_bottom + 1, "notes run past half an inch above the bottom")
h = notes_bottom - notes_head[0][3]  # the notes box: from the heading's bottom to its own bottom
check(h >= 2 * 12, "notes box of %.1f points for two lines" % h)
# The names: bold, 1.25 inches from the left, on a box whose bottom is 2.05 inches above the page's bottom.
check(near(names[0][0] - left, 1.25 * pt), "names not 1.25 inches in: %.1f" % names[0][0])
# The names sit 2.25 inches up unless the legend, raised by the notes, reaches
# there: then they and their rule go just above the legend's top line.
check(names[0][3] <= top + height - 2.05 * pt + 2.0, "names below 2.25 inches up: %.1f" % names[0][3])
check(names[0][3] < legend[0][0][1], "names not above the legend's top line")
check(names[0][3] < notes_head[0][1], "names not above the notes")
# No line's ink meets that of another (boxes may touch: their height is the font's, not the ink's).
problems += page_check.ink_meets(sys.argv[2], lines)
# Legend: at the right, the highest class on top, one fifth of an inch a line.
for ws in legend:
    check(ws[0][0] > 612 / 2, "legend line %r not at the right" % ws[-1][4])
tops = [ws[0][1] for ws in legend]
for a, b in zip(tops, tops[1:]):
    check(near(b - a, 0.2 * pt, 0.3), "legend lines %.1f and %.1f not 0.2 inch apart" % (a, b))
# The block starts 2 inches plus the notes above the bottom, or higher where a column as
# wide as its title would reach into the notes; its title is one row down, the top class
# one more, each line's text at the bottom of its row.
block_top = top + height - h - 2 * pt
titles = [ws for t, ws in text.items() if t.startswith("as-applied-simple1: ")]
check(len(titles) == 1, "no legend title: %r" % list(text))
if titles:
    check(titles[0][0][3] <= block_top + 2 * 0.2 * pt + 2.0, "legend title at %.1f" % titles[0][0][3])
    check(near(legend[0][0][3] - titles[0][0][3], 0.2 * pt, 0.5), "the top class is not a row under the title")
    check(near(titles[0][0][0], legend[0][0][0] - 0.26 * pt, 1.5), "the title is not over the swatches")
check(legend[-1][0][3] < notes_head[0][1], "the legend runs into the notes")
# The values end at most 0.64 inch from the printable right edge (the column is as wide as its
# title), one under the other.
right = left + 612 - 20 - 0.64 * pt
for ws in legend[1:4]:
    check(ws[-1][2] <= right + 1.5, "value %r ends at %.1f, past %.1f" % (ws[-1][4], ws[-1][2], right))
    check(near(ws[-1][2], legend[1][-1][2]), "values not aligned")
check(legend[1][0][0] == legend[2][0][0], "the first texts of the middle lines are not aligned")
if problems:
    print("\n".join(problems))
    sys.exit(1)
EOF

# ---- Long notes: every block keeps clear of the others; a solid colour prints one swatch.
long_dir=$work/long
mkdir -p "$long_dir"
cp "$data/field/as-applied-simple1".* "$long_dir"/
chmod u+w "$long_dir"/*
for i in 1 2 3 4 5 6 7 8; do echo "Pass $i: nozzles checked, rate steady at the headland."; done >"$long_dir/as-applied-simple1.txt"
"$cli" print "$work/long.pdf" "$long_dir/as-applied-simple1.shp" 2>"$work/err" || fail "print with long notes exited $?"
pdftotext -bbox "$work/long.pdf" "$work/long.html"
printf '[Options]\r\nCOLOR_METHOD=0\r\nSOLID_COLOR=255\r\n' >"$long_dir/as-applied-simple1.gpe"
"$cli" print "$work/solid.pdf" "$long_dir/as-applied-simple1.shp" 2>"$work/err" || fail "print in solid colour exited $?"
pdftotext -bbox "$work/solid.pdf" "$work/solid.html"
/usr/bin/python3 - "$work/long.html" "$work/solid.html" <<'EOF' || failures=$((failures + 1))
import sys
import page_check

def read(path):
    return page_check.lines(page_check.words(path))

problems = []
for path in sys.argv[1:]:
    lines = read(path)
    text = {" ".join(w[4] for w in ws): ws for ws in lines}
    problems += ["%s: %s" % (path, p) for p in page_check.ink_meets(path[:-len(".html")] + ".pdf", lines)]
    names, notes = text.get("as-applied-simple1"), text.get("Notes")
    legend = [ws for t, ws in text.items() if "Above" in t or "below" in t or " - " in t or t == "Solid Color"]
    if not names or not notes or not legend:
        problems.append("%s: names, notes or legend missing: %r" % (path, list(text)))
        continue
    # The rule lies along the names' bottom, across the page: never through the legend.
    rule = names[0][3]
    if min(ws[0][1] for ws in legend) - 1 <= rule <= max(ws[0][3] for ws in legend) + 1:
        problems.append("%s: the names' rule runs through the legend" % path)
    if not names[0][3] < notes[0][1]:
        problems.append("%s: the names run into the notes" % path)
    if path.endswith("solid.html") and ("Solid Color" not in text or len(legend) != 1):
        problems.append("the solid colour page prints %r, not one Solid Color line" % list(text))
if problems:
    print("\n".join(problems))
    sys.exit(1)
EOF

# ---- Two files: the newest named first; other paper; another window shape.
pdf2=$work/two.pdf
"$cli" print "$pdf2" "$set_dir/boundary-simple1.shp" "$set_dir/as-applied-simple1.shp" --page a4 --view 500x900 \
  2>"$work/err" || fail "print of two files exited $?: $(cat "$work/err")"
pdfinfo "$pdf2" | grep -q '^Page size: *595 x 842 pts' || fail "not an A4 page: $(pdfinfo "$pdf2" | grep 'Page size')"
pdftotext "$pdf2" - | grep -q 'as-applied-simple1, boundary-simple1' || fail "names not newest first"
pdftotext "$pdf2" - | grep -q 'Above 1600.00' || fail "the last file's legend is not printed"
"$cli" print "$work/legal.pdf" "$set_dir/as-applied-simple1.shp" --page Legal --orientation portrait 2>/dev/null &&
  pdfinfo "$work/legal.pdf" | grep -q '^Page size: *612 x 1008 pts' || fail "Legal paper not taken"

# ---- Orientation: by default the files' shape (the field is tall), or the window's when given.
"$cli" print "$work/tall.pdf" "$set_dir/as-applied-simple1.shp" 2>/dev/null &&
  pdfinfo "$work/tall.pdf" | grep -q '^Page size: *612 x 792 pts' || fail "a tall field is not printed upright"
"$cli" print "$work/wide.pdf" "$set_dir/as-applied-simple1.shp" --view 1600x500 2>/dev/null &&
  pdfinfo "$work/wide.pdf" | grep -q '^Page size: *792 x 612 pts' || fail "a wide window is not printed turned"
"$cli" print "$work/turned.pdf" "$set_dir/as-applied-simple1.shp" --orientation landscape 2>/dev/null &&
  pdfinfo "$work/turned.pdf" | grep -q '^Page size: *792 x 612 pts' || fail "--orientation landscape not taken"
expect 2 "usage: kestrune-cli" print "$work/x.pdf" "$set_dir/as-applied-simple1.shp" --orientation sideways

# ---- Render: the image at its size.
"$cli" render "$work/map.png" "$set_dir/as-applied-simple1.shp" 2>"$work/err" || fail "render exited $?"
/usr/bin/python3 - "$work/map.png" 1920 1080 <<'EOF' || fail "render image is not a 1920x1080 PNG"
import struct, sys
b = open(sys.argv[1], "rb").read(24)
sys.exit(0 if b[:8] == b"\x89PNG\r\n\x1a\n" and struct.unpack(">II", b[16:24]) == (int(sys.argv[2]), int(sys.argv[3])) else 1)
EOF
"$cli" render "$work/small.png" "$set_dir/as-applied-simple1.shp" --size 320x200 --timings 2>"$work/err" ||
  fail "render --size exited $?"
grep -qE '^load [0-9.]+ ms, draw [0-9.]+ ms, write [0-9.]+ ms$' "$work/err" || fail "no timings: $(cat "$work/err")"
/usr/bin/python3 - "$work/small.png" 320 200 <<'EOF' || fail "render --size 320x200 not taken"
import struct, sys
b = open(sys.argv[1], "rb").read(24)
sys.exit(0 if struct.unpack(">II", b[16:24]) == (int(sys.argv[2]), int(sys.argv[3])) else 1)
EOF

# ---- Failures: status 2 for arguments, 1 for files and outputs; nothing written.
for cmd in print render; do
  out=$work/none.$cmd
  expect 2 "usage: kestrune-cli" "$cmd"
  expect 2 "usage: kestrune-cli" "$cmd" "$out"
  expect 2 "usage: kestrune-cli" "$cmd" "$out" "$set_dir/as-applied-simple1.shp" --bogus
  expect 1 "File or path does not exist." "$cmd" "$out" "$set_dir/as-applied-simple1.shp" "$set_dir/absent.shp"
  expect 1 "" "$cmd" "$out" "$set_dir/multipatch.shp"
  [ ! -e "$out" ] || fail "$cmd wrote its output after a failure"
  expect 1 "Could not write $work/no-folder/x" "$cmd" "$work/no-folder/x" "$set_dir/as-applied-simple1.shp"
done
expect 2 "usage: kestrune-cli" print "$work/x.pdf" "$set_dir/as-applied-simple1.shp" --view 0x700
expect 2 "usage: kestrune-cli" print "$work/x.pdf" "$set_dir/as-applied-simple1.shp" --view 1000
expect 2 "Unknown page size: Napkin" print "$work/x.pdf" "$set_dir/as-applied-simple1.shp" --page Napkin
expect 2 "usage: kestrune-cli" print "$work/x.pdf" "$set_dir/as-applied-simple1.shp" --timings
expect 2 "usage: kestrune-cli" render "$work/x.png" "$set_dir/as-applied-simple1.shp" --size 1920x
expect 2 "usage: kestrune-cli" render "$work/x.png" "$set_dir/as-applied-simple1.shp" --size 99999x10
# The refused file's message names it.
"$cli" render "$work/x.png" "$set_dir/multipatch.shp" 2>&1 | grep -q "multipatch" || fail "the refused file is not named"

if [ "$failures" -ne 0 ]; then
  echo "$failures failure(s)" >&2
  exit 1
fi
echo "print and render: all checks passed"
