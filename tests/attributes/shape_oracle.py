#!/usr/bin/python3
"""Prints one record of a shape file as pyshp reads it, as JSON, with its ground
size worked out here independently, for the attribute report tests.

usage: shape_oracle.py FILE.shp RECORD   (RECORD 1-based)
{"points": [[lon, lat], ...], "parts": [...],
 "area_m2": outer ring minus holes on the sphere of radius 6370997 m,
 "length_m": the great-circle length along the vertices}
Positions are taken as degrees (the test files are geographic).
"""
import json
import math
import sys

import shapefile

R = 6370997.0


def ring_area(points):
    """Area of a ring in square metres, on a local equal-spacing plane."""
    lat0 = math.radians(sum(p[1] for p in points) / len(points))
    xy = [(R * math.radians(x) * math.cos(lat0), R * math.radians(y)) for x, y in points]
    s = 0.0
    for (x1, y1), (x2, y2) in zip(xy, xy[1:] + xy[:1]):
        s += x1 * y2 - x2 * y1
    return abs(s) / 2.0


def haversine(a, b):
    lon1, lat1, lon2, lat2 = map(math.radians, (a[0], a[1], b[0], b[1]))
    h = math.sin((lat2 - lat1) / 2) ** 2 + math.cos(lat1) * math.cos(lat2) * math.sin((lon2 - lon1) / 2) ** 2
    return 2 * R * math.asin(math.sqrt(h))


reader = shapefile.Reader(sys.argv[1])
shape = reader.shape(int(sys.argv[2]) - 1)
points = [list(p[:2]) for p in shape.points]
parts = list(shape.parts) + [len(points)]
rings = [points[parts[i]:parts[i + 1]] for i in range(len(parts) - 1)]
area = 0.0
if rings and shape.shapeType in (5, 15, 25):
    area = ring_area(rings[0]) - sum(ring_area(r) for r in rings[1:])
length = sum(haversine(a, b) for a, b in zip(points, points[1:]))
json.dump({"points": points, "parts": list(shape.parts), "area_m2": area, "length_m": length}, sys.stdout)
