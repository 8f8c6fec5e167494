#!/usr/bin/python3
"""Creates a table with python3-dbf (code page 866) for the library to open:
fields NAME C12, QTY N5, NOTE C20; rows from the rows given as JSON [[name, qty, note], ...];
the rows whose index is in the JSON list "delete" are marked deleted."""
import json
import sys

import dbf

path, rows_path = sys.argv[1], sys.argv[2]
with open(rows_path, encoding="utf-8") as f:
    wanted = json.load(f)
table = dbf.Table(path, "name C(12); qty N(5,0); note C(20)", codepage="cp866", dbf_type="db3")
table.open(dbf.READ_WRITE)
for name, qty, note in wanted["rows"]:
    table.append((name, qty, note))
for i in wanted["delete"]:
    dbf.delete(table[i])
table.close()
print("OK")
