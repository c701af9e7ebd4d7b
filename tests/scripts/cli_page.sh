#!/usr/bin/env bash
# The page kestrune-cli print writes, read back from the PDF, on Letter and A4,
# upright and turned, with one and with three themed layers and long notes:
# no two blocks overlap, every legend has its title, the map's framed box
# fills the area above the blocks, and the scale bar's length and label agree
# with the map's own scale (measured on a square of known size drawn on it).
#
#   bash cli_page.sh BUILD_DIR TESTDATA_DIR SHARED_TOOLS_DIR
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
for tool in pdftotext pdfinfo pdftoppm; do
  command -v "$tool" >/dev/null || { echo "$tool missing (poppler-utils): skipped"; exit 77; }
done
cli=$build/kestrune-cli
[ -x "$cli" ] || { echo "$cli is missing: build the kestrune-cli target" >&2; exit 1; }
export PYTHONPATH="$(cd "$(dirname "$0")" && pwd)"

work=$(mktemp -d)
trap 'chmod -R u+w "$work"; rm -rf "$work"' EXIT
export XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work
unset QT_QPA_PLATFORM DISPLAY WAYLAND_DISPLAY

set_dir=$work/set
mkdir -p "$set_dir"
for name in as-applied-simple1 yield-simple1 ssurgo-simple1; do cp "$data/field/$name".* "$set_dir"/; done
chmod u+w "$set_dir"/*
for i in $(seq 1 10); do echo "Pass $i: nozzles checked, rate steady at the headland, no drift seen."; done \
  >"$set_dir/as-applied-simple1.txt"
# A square 0.0016 degrees across in the middle of the field, drawn on top in a colour no legend uses.
/usr/bin/python3 -c 'import sys, page_check; page_check.write_square(sys.argv[1], -16.6992, 39.1225, -16.6976, 39.1241)' \
  "$set_dir/square"
printf '[Options]\r\nCOLOR_METHOD=0\r\nDRAW_BORDER=0\r\nSOLID_COLOR=5649426\r\n' >"$set_dir/square.gpe"

failures=0
for paper in Letter A4; do
  for orientation in portrait landscape; do
    for layers in one three; do
      case $layers in
        one) files=("$set_dir/as-applied-simple1.shp") ;;
        three) files=("$set_dir/ssurgo-simple1.shp" "$set_dir/yield-simple1.shp" "$set_dir/as-applied-simple1.shp") ;;
      esac
      pdf=$work/$paper-$orientation-$layers.pdf
      if ! "$cli" print "$pdf" "${files[@]}" "$set_dir/square.shp" --page "$paper" --orientation "$orientation" \
        2>"$work/err"; then
        echo "FAIL: print $paper $orientation $layers: $(cat "$work/err")" >&2
        failures=$((failures + 1))
        continue
      fi
      pdftotext -bbox "$pdf" "$work/page.html"
      /usr/bin/python3 - "$pdf" "$work/page.html" "$paper $orientation $layers" "${files[@]}" <<'EOF' ||
import math
import os
import sys
import page_check

pdf, html, case = sys.argv[1:4]
names = [os.path.basename(f)[:-4] for f in sys.argv[4:]] + ["square"]
problems = []
def check(ok, what):
    if not ok:
        problems.append(what)

ink = page_check.Ink(pdf, 300, colour=True)
sc = ink.scale
width, height = ink.width / sc, ink.height / sc
check((width > height) == ("landscape" in case), "a %s page of %.0f x %.0f" % (case, width, height))

# The map's frame: the longest dark run down a column and along a row near the printable corner.
def longest(values):
    best, start, run_start = (0, 0, 0), None, 0
    for i, v in enumerate(values + [False]):
        if v and start is None:
            start = i
        elif not v and start is not None:
            if i - start > best[0]:
                best = (i - start, start, i - 1)
            start = None
    return best
near = int(40 * sc)
column = max((longest([ink.dark(x, y) for y in range(ink.height)]) + (x,) for x in range(near)))
row = max((longest([ink.dark(x, y) for x in range(ink.width)]) + (y,) for y in range(near)))
left, top = column[3] / sc, row[3] / sc
right, bottom = row[2] / sc, column[2] / sc

ws = page_check.words(html)
inside = [w for w in ws if w[1] < bottom and w[3] > top]
below = [w for w in ws if w[1] >= bottom]
lines = page_check.lines(below)
texts = [" ".join(w[4] for w in l) for l in lines]
# Every legend has its title: the file name, then its field (columns side by side share lines).
import re
for name in names:
    title = re.compile(r"(^| )" + re.escape(name) + r"(: | |$)")
    heading = lambda t: all(n in t for n in names) and t.count(", ") >= len(names) - 1
    check(any(title.search(t) and not heading(t) for t in texts), "no legend title for %s in %r" % (name, texts))
check("Notes" in texts, "no notes")
# The blocks keep apart: no two lines' ink meets, and no line's letters run into another's.
problems += page_check.ink_meets(pdf, lines, 150)
cores = [(page_check.box(l), t) for l, t in zip(lines, texts)]
for i, (a, ta) in enumerate(cores):
    for b, tb in cores[i + 1:]:
        ah, bh = (a[3] - a[1]) / 4, (b[3] - b[1]) / 4
        if a[0] < b[2] and b[0] < a[2] and a[1] + ah < b[3] - bh and b[1] + bh < a[3] - ah:
            problems.append("%r overlaps %r" % (ta, tb))
# The map's box fills the area above the blocks (a tenth of an inch above the highest) within 2 %
# on each side.
margin = 10.0
blocks_top = min(w[1] for w in below)
area_w, area_h = width - 2 * margin, blocks_top - 7.2 - margin
for side, got, want, size in [("left", left, margin, area_w), ("right", right, width - margin, area_w),
                              ("top", top, margin, area_h), ("bottom", bottom, blocks_top - 7.2, area_h)]:
    # A short map (long notes on a turned page) still gets 3 points: a text's box and its
    # font's cell differ by about that from one font to another.
    check(abs(got - want) <= max(0.02 * size, 3.0), "the map's %s edge at %.1f, not %.1f" % (side, got, want))
# The scale bar: a number and a unit inside the map, the bar just left of them.
units = {"ft": 0.3048, "mi": 1609.344, "m": 1.0, "km": 1000.0}
label = [(a, b) for a, b in zip(inside, inside[1:]) if b[4] in units and abs(a[1] - b[1]) < 1]
if not label:
    problems.append("no scale bar label among %r" % [w[4] for w in inside])
else:
    number, unit = label[0]
    metres = float(number[4]) * units[unit[4]]
    # The bar: the longest dark run along the rows beside the label, left of it.
    bar = 0
    for y in range(int(number[1] * sc), int(number[3] * sc) + 1):
        run = 0
        for x in range(int(left * sc) + 2, int(number[0] * sc)):
            run = run + 1 if ink.dark(x, y) else 0
            bar = max(bar, run)
    bar /= sc
    # The map's own scale: the red square's width across its middle row.
    lat = 39.1233
    ground = 6378137.0 * math.cos(math.radians(lat)) * math.radians(0.0016)
    red = {}
    for yy in range(int(top * sc), int(bottom * sc)):
        run = ink.colour_run(yy, (0x12, 0x34, 0x56))
        if run:
            red[yy] = run
    if not red:
        problems.append("the square is not on the map")
    else:
        mid = sorted(red)[len(red) // 2]
        # The run of the colour itself (its smoothed edge pixels left out) and one pixel for them.
        square = (red[mid][-1] - red[mid][0] + 1) / sc
        per_point = ground / square
        # Within 1 %, widened by a pixel of each measure where the map is so small (long notes
        # on a turned page) that a pixel is more than that.
        tolerance = 0.01 if square * sc >= 200 else 0.01 + 1.0 / (square * sc) + 1.0 / (bar * sc)
        check(abs(bar * per_point / metres - 1) <= tolerance,
              "the bar of %.1f pt is %.1f m on the map, its label says %s %s" % (bar, bar * per_point, number[4], unit[4]))
        check(0.6 < bar / ((right - left) / 5) < 1.6, "the bar of %.1f pt is not about a fifth of the map" % bar)
# The north arrow's N at the map's top right.
north = [w for w in inside if w[4] == "N" and w[0] > right - 72 and w[1] < top + 72]
check(north, "no north arrow at the map's top right")
if problems:
    print(case + ":\n  " + "\n  ".join(problems))
    sys.exit(1)
EOF
        failures=$((failures + 1))
    done
  done
done

if [ "$failures" -ne 0 ]; then
  echo "$failures failure(s)" >&2
  exit 1
fi
echo "printed pages: all checks passed"
