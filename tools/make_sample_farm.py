#!/usr/bin/python3
"""Write the sample farm that ./run.sh opens: one field near Ames, Iowa.

  make_sample_farm.py OUTDIR

Writes, in WGS 84 degrees with a ".prj" beside each file:
  field-boundary   the field's boundary polygon
  soil-zones       three soil-map zones, one with a hole (a wet pocket)
  as-applied       an applicator log: points with boom state, applied and
                   target rate, speed, time of day, date and swath width
                   (metres), coloured by rate (".gpe" sets the legend field)
  guidance         the A-B guidance line of the passes
Needs the pyshp module (Debian package python3-pyshp). Same bytes every run.
"""
import math
import os
import random
import sys

import shapefile  # pyshp

LAT0, LON0 = 42.0212, -93.7741
M_PER_DEG_LAT = 111_320.0
M_PER_DEG_LON = 111_320.0 * math.cos(math.radians(LAT0))
WGS84_PRJ = ('GEOGCS["GCS_WGS_1984",DATUM["D_WGS_1984",SPHEROID["WGS_1984",'
             '6378137.0,298.257223563]],PRIMEM["Greenwich",0.0],'
             'UNIT["Degree",0.0174532925199433]]')
FIELD_W, FIELD_H = 800.0, 500.0   # metres
SWATH = 24.0                      # sprayer boom width, metres


def lonlat(east, north):
    """Degrees of a point given in metres east and north of the field's corner."""
    return LON0 + east / M_PER_DEG_LON, LAT0 + north / M_PER_DEG_LAT


def ring(points_m):
    """A closed ring of degrees from metre offsets."""
    pts = [lonlat(e, n) for e, n in points_m]
    return pts + [pts[0]]


def write_prj(base):
    with open(base + ".prj", "w") as f:
        f.write(WGS84_PRJ)


def boundary_m():
    # A field with one clipped corner where a farmstead sits.
    return [(0, 0), (0, FIELD_H), (FIELD_W - 120, FIELD_H), (FIELD_W, FIELD_H - 90), (FIELD_W, 0)]


def write_boundary(out):
    base = os.path.join(out, "field-boundary")
    with shapefile.Writer(base, shapeType=shapefile.POLYGON) as w:
        w.field("NAME", "C", 32)
        w.field("AREA_HA", "N", 10, 2)
        w.poly([list(reversed(ring(boundary_m())))])
        w.record("North 80", 38.5)
    write_prj(base)


def write_zones(out):
    base = os.path.join(out, "soil-zones")
    with shapefile.Writer(base, shapeType=shapefile.POLYGON) as w:
        w.field("MUSYM", "C", 8)
        w.field("SOIL", "C", 40)
        w.field("CSR2", "N", 5, 0)
        w.field("OM_PCT", "N", 6, 2)
        west = [(0, 0), (0, FIELD_H), (300, FIELD_H), (260, 0)]
        middle = [(260, 0), (300, FIELD_H), (FIELD_W - 120, FIELD_H), (FIELD_W - 60, 0)]
        east = [(FIELD_W - 60, 0), (FIELD_W - 120, FIELD_H), (FIELD_W, FIELD_H - 90), (FIELD_W, 0)]
        pocket = [(420, 180), (470, 200), (500, 260), (460, 310), (400, 290), (380, 230)]
        w.poly([list(reversed(ring(west)))])
        w.record("138B", "Clarion loam", 88, 3.1)
        # Outer ring clockwise, the wet pocket counter-clockwise as a hole.
        w.poly([list(reversed(ring(middle))), ring(pocket)])
        w.record("55", "Nicollet loam", 91, 4.2)
        w.poly([list(reversed(ring(east)))])
        w.record("507", "Canisteo clay loam", 84, 5.6)
        w.poly([list(reversed(ring(pocket)))])
        w.record("6", "Okoboji silty clay loam", 59, 7.8)
    write_prj(base)


def write_guidance(out):
    base = os.path.join(out, "guidance")
    with shapefile.Writer(base, shapeType=shapefile.POLYLINE) as w:
        w.field("NAME", "C", 16)
        w.field("HEADING", "N", 8, 2)
        w.line([[lonlat(SWATH / 2, -20), lonlat(SWATH / 2, FIELD_H + 20)]])
        w.record("AB North", 0.0)
    write_prj(base)


def write_applied(out):
    rng = random.Random(20261208)
    base = os.path.join(out, "as-applied")
    with shapefile.Writer(base, shapeType=shapefile.POINT) as w:
        w.field("BOOM", "N", 1, 0)
        w.field("RATE", "N", 8, 2)
        w.field("TARGET", "N", 8, 2)
        w.field("SPEED_KMH", "N", 6, 1)
        w.field("TIME", "C", 8)
        w.field("DATE", "D")
        w.field("WIDTH", "N", 5, 1)
        passes = int(FIELD_W // SWATH)
        seconds = 8 * 3600
        for p in range(passes):
            east = SWATH / 2 + p * SWATH
            north_range = range(0, int(FIELD_H), 6)
            if p % 2:
                north_range = reversed(list(north_range))
            for north in north_range:
                # The clipped corner is outside the field: the boom is off there.
                inside = not (east > FIELD_W - 120 and north > FIELD_H - (east - (FIELD_W - 120)) * 0.75)
                headland = north < 12 or north > FIELD_H - 12
                boom = 1 if inside and not headland else 0
                # Variable rate by soil: richer zones ask for less.
                target = 140.0 if east < 280 else (120.0 if east < FIELD_W - 90 else 165.0)
                if 380 <= east <= 500 and 180 <= north <= 310:
                    target = 95.0
                rate = round(target * (1 + rng.gauss(0, 0.04)), 2) if boom else 0.0
                lon, lat = lonlat(east + rng.gauss(0, 0.15), north + rng.gauss(0, 0.15))
                w.point(lon, lat)
                t = "%02d:%02d:%02d" % (seconds // 3600, seconds // 60 % 60, seconds % 60)
                w.record(boom, rate, target if boom else 0.0, round(rng.uniform(11.5, 13.5), 1), t,
                         "20260415", SWATH)
                seconds += 2
    write_prj(base)
    # Coloured by the applied rate, field 2, with borders on and a 2 m symbol.
    with open(base + ".gpe", "w", newline="") as f:
        f.write("[Options]\r\nDISPLAY_SIZE=656\r\nDRAW_BORDER=0\r\nCOLOR_METHOD=1\r\n"
                "SOLID_COLOR=12632256\r\nLEGEND_COL=2\r\n")
    with open(base + ".txt", "w", newline="") as f:
        f.write("Spring nitrogen, variable rate by soil zone.\r\nApplicator: R. Lind. "
                "Wind 8 km/h from the south-west.\r\n")


def main():
    if len(sys.argv) != 2:
        sys.stderr.write("usage: make_sample_farm.py OUTDIR\n")
        return 2
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    write_boundary(out)
    write_zones(out)
    write_guidance(out)
    write_applied(out)
    return 0


if __name__ == "__main__":
    sys.exit(main())
