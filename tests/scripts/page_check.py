"""Reading a printed page back for the page tests: the words and lines that
pdftotext -bbox finds, the page's ink as pdftoppm draws it, and the fonts
pdffonts lists. Positions are in points from the paper's top left corner."""
import re
import subprocess


def words(html_path):
    """(xMin, yMin, xMax, yMax, text) of every word."""
    return [(float(a), float(b), float(c), float(d), t) for a, b, c, d, t in re.findall(
        r'<word xMin="([\d.]+)" yMin="([\d.]+)" xMax="([\d.]+)" yMax="([\d.]+)">([^<]*)</word>',
        open(html_path).read())]


def lines(ws):
    """Words of one line share their top; lines in page order, top to bottom."""
    by_top = {}
    for w in ws:
        by_top.setdefault(round(w[1], 1), []).append(w)
    return [sorted(group) for _, group in sorted(by_top.items())]


def box(ws):
    """The box round a list of words."""
    return (min(w[0] for w in ws), min(w[1] for w in ws), max(w[2] for w in ws), max(w[3] for w in ws))


class Ink:
    """The page drawn by pdftoppm in grey at a resolution, dark pixels as ink."""

    def __init__(self, pdf, dpi=150, colour=False):
        data = subprocess.run(["pdftoppm", "-r", str(dpi)] + ([] if colour else ["-gray"]) + ["-singlefile", pdf],
                              check=True, capture_output=True).stdout
        # A binary PGM: "P5 width height maxval" then one byte a pixel.
        fields = []
        pos = 0
        while len(fields) < 4:
            while data[pos:pos + 1].isspace():
                pos += 1
            end = pos
            while not data[end:end + 1].isspace():
                end += 1
            fields.append(data[pos:end])
            pos = end
        self.width, self.height = int(fields[1]), int(fields[2])
        self.pixels = data[pos + 1:]
        self.scale = dpi / 72.0
        self.channels = 3 if colour else 1
        if colour:
            # Grey for the ink tests, the colours kept beside it.
            self.rgb = self.pixels
            self.pixels = bytes(map(min, self.rgb[0::3], self.rgb[1::3], self.rgb[2::3]))

    def dark(self, x, y):
        return self.pixels[y * self.width + x] < 160

    def colour_run(self, y, colour):
        """The first and last pixel of a colour along a row, or None."""
        row = self.rgb[3 * y * self.width:3 * (y + 1) * self.width]
        want = bytes(colour)
        first = row.find(want)
        while first >= 0 and first % 3:
            first = row.find(want, first + 1)
        if first < 0:
            return None
        last = row.rfind(want)
        while last % 3:
            last = row.rfind(want, 0, last)
        return first // 3, last // 3

    def colour_at(self, x, y):
        i = 3 * (y * self.width + x)
        return tuple(self.rgb[i:i + 3])

    def row_has_ink(self, y, x0, x1):
        row = self.pixels[y * self.width:(y + 1) * self.width]
        return any(v < 160 for v in row[max(0, x0):min(self.width, x1)])

    def ink_rows(self, b):
        """The pixel rows inside a box (in points) that hold ink."""
        x0, x1 = int(b[0] * self.scale), int(b[2] * self.scale) + 1
        return [y for y in range(int(b[1] * self.scale), min(self.height, int(b[3] * self.scale) + 1))
                if self.row_has_ink(y, x0, x1)]

    def separated(self, upper, lower):
        """Whether a blank pixel row lies between two texts over the width
        they share, scanning from the upper one's middle to the lower one's."""
        x0 = int(max(upper[0], lower[0]) * self.scale) + 1
        x1 = int(min(upper[2], lower[2]) * self.scale)
        if x1 <= x0:
            return True
        y0 = int((upper[1] + upper[3]) / 2 * self.scale)
        y1 = int((lower[1] + lower[3]) / 2 * self.scale)
        return any(not self.row_has_ink(y, x0, x1) for y in range(y0 + 1, y1))


def ink_meets(pdf, page_lines, dpi=150):
    """Pairs of words of different lines whose boxes touch or nearly do and
    between whose ink, over the width they share, no blank row runs: words
    whose letters meet on the page. Words, not whole lines, so that lines of
    legend columns side by side (with swatches between) are read apart."""
    ink = Ink(pdf, dpi)
    words = [(w, i) for i, ws in enumerate(page_lines) for w in ws]
    problems = []
    for n, (a, la) in enumerate(words):
        for b, lb in words[n + 1:]:
            if la == lb:
                continue
            upper, lower = (a, b) if a[1] <= b[1] else (b, a)
            if upper[0] < lower[2] and lower[0] < upper[2] and lower[1] < upper[3] + 2:
                if not ink.separated(upper, lower):
                    problems.append("the ink of %r meets that of %r" % (upper[4], lower[4]))
    return problems


def font_families(pdf):
    """The embedded flag and family of every font pdffonts lists (the subset
    prefix and the style after the hyphen dropped)."""
    out = subprocess.run(["pdffonts", pdf], check=True, capture_output=True, text=True).stdout.splitlines()
    result = []
    for row in out[2:]:
        name = row.split()[0]
        family = name.split("+", 1)[-1].split("-", 1)[0]
        # "name type encoding emb sub uni object ID": emb is the fourth from the end.
        result.append((family, row.split()[-5] == "yes"))
    return result


def write_square(base, west, south, east, north):
    """A shape file set of one Polygon record, the ring round a box in
    degrees, with a table of one numeric field."""
    import struct
    ring = [(west, south), (west, north), (east, north), (east, south), (west, south)]
    content = struct.pack("<i4dii", 5, west, south, east, north, 1, len(ring)) + struct.pack("<i", 0)
    content += b"".join(struct.pack("<2d", x, y) for x, y in ring)
    record = struct.pack(">2i", 1, len(content) // 2) + content

    def header(length_bytes):
        return (struct.pack(">7i", 9994, 0, 0, 0, 0, 0, length_bytes // 2) +
                struct.pack("<2i4d4d", 1000, 5, west, south, east, north, 0, 0, 0, 0))
    with open(base + ".shp", "wb") as f:
        f.write(header(100 + len(record)) + record)
    with open(base + ".shx", "wb") as f:
        f.write(header(108) + struct.pack(">2i", 50, len(content) // 2))
    field = b"ID".ljust(11, b"\0") + b"N" + b"\0" * 4 + bytes([4, 0]) + b"\0" * 14
    dbf = struct.pack("<B3BIHH20x", 3, 126, 1, 1, 1, 32 + 32 + 1, 1 + 4) + field + b"\r" + b"    1" + b"\x1a"
    with open(base + ".dbf", "wb") as f:
        f.write(dbf)
