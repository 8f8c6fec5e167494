#!/usr/bin/python3
"""Reads a table with python3-dbfread and python3-dbf and compares it with the expected JSON:
{"fields": [[name, type, length, decimals], ...],
 "records": [{"deleted": bool, "values": {name: value, ...}}, ...]}
Character values are compared with trailing blanks stripped, numbers as integers.
Prints every difference and exits 1 when there is one."""
import json
import sys

import dbf
import dbfread

problems = []


def check(what, got, want):
    if got != want:
        problems.append(f"{what}: got {got!r}, want {want!r}")


def normal(value):
    if isinstance(value, str):
        return value.rstrip()
    if isinstance(value, float) and value.is_integer():
        return int(value)
    return value


def with_dbfread(path, expected):
    table = dbfread.DBF(path, load=True)
    check("dbfread encoding", table.encoding, "cp866")
    fields = [[f.name, f.type, f.length, f.decimal_count] for f in table.fields]
    check("dbfread fields", fields, expected["fields"])
    live = [r for r in expected["records"] if not r["deleted"]]
    dead = [r for r in expected["records"] if r["deleted"]]
    check("dbfread live count", len(table.records), len(live))
    check("dbfread deleted count", len(table.deleted), len(dead))
    for kind, got_list, want_list in (("live", table.records, live), ("deleted", table.deleted, dead)):
        for i, (got, want) in enumerate(zip(got_list, want_list)):
            for name, value in want["values"].items():
                check(f"dbfread {kind} {i} {name}", normal(got[name]), value)


def with_dbf(path, expected):
    table = dbf.Table(path)
    table.open(dbf.READ_ONLY)
    try:
        check("dbf codepage", table.codepage.name, "cp866")
        fields = []
        for name in table.field_names:
            info = table.field_info(name)
            fields.append([name.upper(), chr(info.field_type), info.length, info.decimal])
        check("dbf fields", fields, expected["fields"])
        check("dbf record count", len(table), len(expected["records"]))
        for i, (rec, want) in enumerate(zip(table, expected["records"])):
            check(f"dbf {i} deleted", dbf.is_deleted(rec), want["deleted"])
            for name, value in want["values"].items():
                check(f"dbf {i} {name}", normal(rec[name.lower()]), value)
    finally:
        table.close()


path, expected_path = sys.argv[1], sys.argv[2]
with open(expected_path, encoding="utf-8") as f:
    expected = json.load(f)
with_dbfread(path, expected)
with_dbf(path, expected)
for p in problems[:50]:
    print(p)
print("OK" if not problems else f"{len(problems)} problems")
sys.exit(1 if problems else 0)
