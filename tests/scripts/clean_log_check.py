#!/usr/bin/python3
"""Writes a combine log with planted faults, runs `kestrune-cli clean` on it and
checks, with an independent computation, that every filter removes exactly the
records planted for it, that the flow-delay shift puts each value back on its
own spot, and that the saved set reads back in pyshp and ogrinfo with the same
records and rows.

  clean_log_check.py KESTRUNE_CLI WORKDIR
"""
import json
import math
import os
import random
import re
import subprocess
import sys

import shapefile  # pyshp

FLOW_DELAY = 12           # seconds between the cut and the sensor
START, END = 3, 2         # pass delays in seconds
PASS_LEN = 40             # records of a pass (2 m apart, 1 s apart)
TURN_LEN = 4              # boom-off records between passes
PASSES = 40
LAST_TURN = 16            # boom-off records that end the log (more than the flow delay)
UTM = ('PROJCS["WGS_1984_UTM_Zone_15N",GEOGCS["GCS_WGS_1984",DATUM["D_WGS_1984",'
       'SPHEROID["WGS_1984",6378137.0,298.257223563]],PRIMEM["Greenwich",0.0],'
       'UNIT["Degree",0.0174532925199433]],PROJECTION["Transverse_Mercator"],'
       'PARAMETER["False_Easting",500000.0],PARAMETER["False_Northing",0.0],'
       'PARAMETER["Central_Meridian",-93.0],PARAMETER["Scale_Factor",0.9996],'
       'PARAMETER["Latitude_Of_Origin",0.0],UNIT["Meter",1.0]]')

failures = []


def check(cond, what):
    if not cond:
        failures.append(what)
        print("FAIL:", what)


def build_log(base):
    """The log's records as dicts, with the planted faults; returns (records, plants)."""
    rng = random.Random(24)
    recs = []
    t = 8 * 3600
    for p in range(PASSES):
        east = p * 18.0
        for k in range(PASS_LEN):
            north = k * 2.0 if p % 2 == 0 else (PASS_LEN - 1 - k) * 2.0
            recs.append(dict(x=500000 + east + rng.uniform(-0.05, 0.05), y=4650000 + north + rng.uniform(-0.05, 0.05),
                             boom=1, pos=k))
        turn = LAST_TURN if p == PASSES - 1 else TURN_LEN
        for k in range(turn):
            recs.append(dict(x=500000 + east + 18.0 * (k + 1) / (turn + 1), y=recs[-1]["y"] + 1.0, boom=0, pos=-1))
    for i, r in enumerate(recs):
        r["truth"] = 200.0 + 2.0 * ((i * 7) % 5 - 2)   # the crop at the spot
        r["speed"] = round(7.2 + 0.1 * ((i * 3) % 5 - 2), 2)
        r["width"] = 30.0
    # Mid-pass records (away from the pass ends), far apart, for the plants.
    mid = [i for i, r in enumerate(recs) if r["boom"] == 1 and 8 <= r["pos"] < PASS_LEN - 8]
    rng.shuffle(mid)
    picked = set()

    def take(count):
        out = []
        while len(out) < count:
            i = mid.pop()
            if any(abs(i - j) < 30 for j in picked):
                continue   # neighbours stay clean
            picked.add(i)
            out.append(i)
        return sorted(out)

    plants = {}
    plants["range"] = take(8)
    for n, i in enumerate(plants["range"]):
        recs[i]["truth"] = 0.0 if n % 2 else 900.0
    plants["speed"] = take(7)
    for n, i in enumerate(plants["speed"]):
        recs[i]["speed"] = 25.0 if n % 2 else 1.0
    plants["sd"] = take(6)
    for i in plants["sd"]:
        recs[i]["truth"] = 300.0
    plants["local"] = take(6)
    for i in plants["local"]:
        recs[i]["truth"] = 216.0
    plants["width"] = take(6)
    for n, i in enumerate(plants["width"]):
        recs[i]["width"] = None if n % 3 == 0 else 0.0
    dup_of = take(5)
    # The pass delays: the first START and last END seconds of every pass.
    plants["pass"] = [i for i, r in enumerate(recs) if r["boom"] == 1 and (r["pos"] < START or r["pos"] >= PASS_LEN - END)]
    for i, r in enumerate(recs):
        r["time"] = t + i
        r["src"] = i
    # Duplicates: a second record at the same place and time, right after.
    out = []
    for i, r in enumerate(recs):
        out.append(r)
        if i in dup_of:
            out.append(dict(r, dup=True))
    recs = out
    # The sensor reports FLOW_DELAY seconds late: the value logged at a time
    # is the crop cut FLOW_DELAY seconds before.
    by_time = {}
    for r in recs:
        by_time.setdefault(r["time"], r)
    for r in recs:
        before = by_time.get(r["time"] - FLOW_DELAY)
        r["logged"] = before["truth"] if before else 200.0
    numbers = {}
    final = {}
    for n, r in enumerate(recs):
        if not r.get("dup"):
            numbers[r["src"]] = n + 1
    for key, items in plants.items():
        final[key] = sorted(numbers[i] for i in items)
    final["duplicates"] = sorted(n + 1 for n, r in enumerate(recs) if r.get("dup"))
    last = recs[-1]["time"]
    final["flow"] = sorted(n + 1 for n, r in enumerate(recs) if r["time"] > last - FLOW_DELAY)

    w = shapefile.Writer(base, shapeType=shapefile.POINT)
    w.field("Yield", "N", 10, 2)
    w.field("Speed", "N", 6, 2)
    w.field("Boom", "N", 1, 0)
    w.field("Width", "N", 6, 2)
    w.field("Logged", "D")
    w.field("Time", "C", 8)
    w.field("Variety", "C", 12)
    for r in recs:
        w.point(r["x"], r["y"])
        s = r["time"]
        w.record(r["logged"], r["speed"], r["boom"], r["width"], "20240415",
                 "%02d:%02d:%02d" % (s // 3600, s // 60 % 60, s % 60), "P1197")
    w.close()
    with open(base + ".prj", "w") as f:
        f.write(UTM)
    with open(base + ".cpg", "w") as f:
        f.write("UTF-8")
    with open(base + ".gpe", "w") as f:
        f.write("[Options]\r\nLEGEND_COL=1\r\n")
    return recs, final


def brute_local(recs, kept, k, n):
    """Records of kept beyond k sigma of the median of their n nearest."""
    out = []
    for i in kept:
        d = sorted(((recs[j]["x"] - recs[i]["x"]) ** 2 + (recs[j]["y"] - recs[i]["y"]) ** 2, j) for j in kept if j != i)
        vals = [recs[j]["shifted"] for _, j in d[:n]]
        mean = sum(vals) / len(vals)
        sigma = math.sqrt(sum((v - mean) ** 2 for v in vals) / len(vals))
        s = sorted(vals)
        med = s[len(s) // 2] if len(s) % 2 else (s[len(s) // 2 - 1] + s[len(s) // 2]) / 2
        if abs(recs[i]["shifted"] - med) > k * sigma:
            out.append(i)
    return out


def main():
    cli, work = sys.argv[1], sys.argv[2]
    base = os.path.join(work, "combine")
    recs, planted = build_log(base)
    out = os.path.join(work, "clean", "combine_clean.shp")
    os.makedirs(os.path.dirname(out))
    args = [cli, "clean", base + ".shp", out, "--range", "yield:50:400", "--speed", "3:15", "--sd", "Yield:3",
            "--local", "Yield:3:24", "--start-delay", str(START), "--end-delay", str(END),
            "--flow-delay", "Yield:%d" % FLOW_DELAY, "--duplicates", "--min-width", "1"]
    run = subprocess.run(args, capture_output=True, text=True)
    check(run.returncode == 0, "clean exit 0: %s" % run.stderr)
    lines = run.stdout.splitlines()
    check(len(lines) == 1, "one JSON line")
    result = json.loads(lines[0])
    order = ["range", "speed", "sd", "local", "pass", "flow", "duplicates", "width"]
    check(list(result["removed"].keys()) == order, "filters in their order")
    for key in order:
        check(result["removed"][key] == len(planted[key]),
              "%s removed %s, planted %d" % (key, result["removed"][key], len(planted[key])))
    total = len(recs)
    removed = set()
    for key in order:
        removed |= set(planted[key])
    check(result["records"] == total, "records %d" % total)
    check(result["kept"] == total - len(removed), "kept %s of %d" % (result["kept"], total - len(removed)))

    # The independent computation of the statistical filters over what the
    # filters before them kept, on the shifted values.
    by_time = {}
    for r in recs:
        by_time.setdefault(r["time"], r)
    for r in recs:
        src = by_time.get(r["time"] + FLOW_DELAY)
        r["shifted"] = src["logged"] if src else None
    kept = [i for i in range(total) if i + 1 not in set(planted["range"]) | set(planted["speed"])]
    vals = [recs[i]["shifted"] for i in kept if recs[i]["shifted"] is not None]
    mean = sum(vals) / len(vals)
    sigma = math.sqrt(sum((v - mean) ** 2 for v in vals) / len(vals))
    sd_hits = [i + 1 for i in kept if recs[i]["shifted"] is not None and abs(recs[i]["shifted"] - mean) > 3 * sigma]
    check(sd_hits == planted["sd"], "sd by an independent computation: %s vs %s" % (sd_hits, planted["sd"]))
    kept = [i for i in kept if i + 1 not in set(sd_hits) and recs[i]["shifted"] is not None]
    local_hits = [i + 1 for i in brute_local(recs, kept, 3, 24)]
    check(local_hits == planted["local"], "local by brute force: %s vs %s" % (local_hits, planted["local"]))

    # The saved set in pyshp: the kept records in order, renumbered, with
    # their rows, the shifted yield on its own spot and SRC_REC.
    src = shapefile.Reader(base)
    dst = shapefile.Reader(out[:-4])
    names = [f[0] for f in dst.fields[1:]]
    check(names == ["Yield", "Speed", "Boom", "Width", "Logged", "Time", "Variety", "SRC_REC"], "fields %s" % names)
    keep = [i for i in range(total) if i + 1 not in removed]
    check(len(dst) == len(keep), "saved %d records" % len(dst))
    src_shapes = src.shapes()
    src_rows = src.records()
    for n, sr in enumerate(dst.iterShapeRecords()):
        if n >= len(keep):
            break
        i = keep[n]
        row = list(sr.record)
        if row[-1] != i + 1 or sr.shape.points != src_shapes[i].points or row[1:-1] != list(src_rows[i])[1:]:
            check(False, "record %d: %s vs source %d" % (n + 1, row, i + 1))
            break
        if abs(row[0] - recs[i]["truth"]) > 1e-9:
            check(False, "record %d yield %s, the crop cut there %s" % (n + 1, row[0], recs[i]["truth"]))
            break
    # The ".shx" against the ".shp": every shape read through the index.
    for n in (0, len(dst) // 2, len(dst) - 1):
        check(dst.shape(n).points == src_shapes[keep[n]].points, "shape %d through the index" % n)
    for ext in ("prj", "cpg", "gpe"):
        check(os.path.exists(out[:-3] + ext), "." + ext + " written")
    # ogrinfo reads the same count and every field.
    info = subprocess.run(["ogrinfo", "-ro", "-so", "-al", out], capture_output=True, text=True)
    if info.returncode == 0 or "not found" not in info.stderr:
        m = re.search(r"Feature Count: (\d+)", info.stdout)
        check(m and int(m.group(1)) == len(keep), "ogrinfo feature count: %s" % info.stdout[-400:])
        check("SRC_REC: Real" in info.stdout or "SRC_REC: Integer" in info.stdout, "ogrinfo sees SRC_REC")
        full = subprocess.run(["ogrinfo", "-ro", "-al", "-q", out, "-fid", str(len(keep) - 1)], capture_output=True,
                              text=True)
        check("SRC_REC (" in full.stdout and ("= %d" % (keep[-1] + 1)) in full.stdout, "ogrinfo last feature")

    # Bad arguments give 2, a missing log 1; neither writes anything.
    bad = subprocess.run([cli, "clean", base + ".shp", os.path.join(work, "bad.shp"), "--sd", "Yield"],
                         capture_output=True, text=True)
    check(bad.returncode == 2 and not os.path.exists(os.path.join(work, "bad.shp")), "bad arguments: 2")
    bad = subprocess.run([cli, "clean", base + ".shp", os.path.join(work, "bad.shp"), "--sd", "Variety:3"],
                         capture_output=True, text=True)
    check(bad.returncode == 2, "a text field: 2")
    missing = subprocess.run([cli, "clean", os.path.join(work, "none.shp"), os.path.join(work, "bad.shp")],
                             capture_output=True, text=True)
    check(missing.returncode == 1 and missing.stderr, "a missing log: 1")

    # copy --where: the records meeting every condition.
    where = os.path.join(work, "where.shp")
    run = subprocess.run([cli, "copy", base + ".shp", where, "--where", "Boom = 0", "--where", "Speed < 7.2"],
                         capture_output=True, text=True)
    check(run.returncode == 0, "copy --where: %s" % run.stderr)
    want = [n + 1 for n, r in enumerate(recs) if r["boom"] == 0 and r["speed"] < 7.2]
    got = [row[-1] for row in shapefile.Reader(where[:-4]).records()]
    check(got == want, "copy --where chose %d records, %d expected" % (len(got), len(want)))
    check(json.loads(run.stdout)["kept"] == len(want), "copy --where kept count")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
