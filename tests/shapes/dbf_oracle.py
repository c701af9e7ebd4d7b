#!/usr/bin/python3
"""Prints a dBase table as pyshp reads it, as JSON, for the table tests.

{"fields": [[name, letter, length, decimals], ...],
 "deleted": [bool per row], "records": [[value per field] per row]}
Numbers are given as pyshp parses them (null when it finds none); texts as
pyshp decodes them (Latin-1, so every byte maps to one character).
"""
import json
import sys

import shapefile

with open(sys.argv[1], "rb") as dbf:
    reader = shapefile.Reader(dbf=dbf, encoding="latin-1")
    fields = [[f[0], f[1], f[2], f[3]] for f in reader.fields[1:]]
    records = []
    deleted = []
    for i in range(reader.numRecords):
        rec = reader.record(i)
        deleted.append(rec is None)
        values = []
        for v in (rec if rec is not None else []):
            if isinstance(v, (int, float)) and not isinstance(v, bool):
                values.append(float(v))
            elif v is None:
                values.append(None)
            else:
                values.append(str(v))
        records.append(values)
json.dump({"fields": fields, "deleted": deleted, "records": records}, sys.stdout)
