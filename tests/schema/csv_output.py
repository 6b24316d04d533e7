#!/usr/bin/python3
"""vexmira --csv parsed back with Python's csv module: one record per entry,
the same fields and values as --json, names with commas and quotes intact,
texts from the file shown as on a terminal and kept from running as a
spreadsheet formula.

Usage: csv_output.py VEXMIRA
"""
import csv
import io
import json
import os
import struct
import subprocess
import sys
import tempfile

# The archive header's own fields, in every record (the listing's counts are JSON's only).
HEADER_KEYS = ("compress_id", "size_value", "long13", "flags", "archive_header_size")


def archive(entries):
    data = b"SPIS\x1aLZH" + struct.pack("<iBII", 0, 1, 0, 0)
    for name, full, stored, method in entries:
        data += struct.pack("<hIHiiBII", len(name), 0, 0, full, stored, method, 0, 0) + name + b"\xee" * stored
    return data


def shown(text):
    """A text from the file as CSV shows it: as on a terminal, and never a formula."""
    out = ""
    for i, c in enumerate(text):
        if ord(c) < 0x20 or 0x7F <= ord(c) < 0xA0:
            out += "\\x%02X" % ord(c)
        elif c == "\\" and text[i + 1:i + 2] == "x":
            out += "\\x5C"
        else:
            out += c
    return "'" + out if out[:1] in ("=", "+", "-", "@") else out


def main():
    vexmira = sys.argv[1]
    names = [b"PLAIN.TXT", b'say "hi", twice', b"two\nlines", b"caf\xe9", b"=1+1", b"C:\\x\x1b[2J"]
    with tempfile.TemporaryDirectory() as scratch:
        with open(os.path.join(scratch, "a,b.ARC"), "wb") as f:
            f.write(archive([(name, 100 + i, 40, 4) for i, name in enumerate(names)] + [(b"", 0, 0, 0)]))
        with open(os.path.join(scratch, "setup.exe"), "wb") as f:
            f.write(b"MZ" + b"\x90" * 4998 + archive([(b"INNER.BIN", 10, 10, 0)]))
        with open(os.path.join(scratch, "plain.exe"), "wb") as f:
            f.write(b"MZ" * 100)

        def run(*args):
            return subprocess.run([vexmira, "--quiet", *args], cwd=scratch, capture_output=True, check=False)

        files = ["a,b.ARC", "setup.exe", "plain.exe"]
        got = run("--csv", *files)
        want = run("--json", *files)
        if got.returncode != 0 or want.returncode != 0:
            sys.exit("FAILED: exit %d / %d: %r" % (got.returncode, want.returncode, got.stderr))
        if b"\r\n" not in got.stdout or any(b < 0x20 for b in got.stdout.replace(b"\r\n", b"")):
            sys.exit("FAILED: records end in CRLF, no other control byte: %r" % got.stdout[:300])
        rows = list(csv.DictReader(io.StringIO(got.stdout.decode("utf-8"), newline="")))
        expected = []
        for listing in map(json.loads, want.stdout.decode().splitlines()):
            for entry in listing["entries"]:
                expected.append({"file": listing["file"], "path_encoding": listing["path_encoding"],
                                 "listed": listing["listed"] or "", "offset": listing["offset"],
                                 "located": listing["located"], "passed_over": listing["passed_over"],
                                 **{key: listing[key] for key in HEADER_KEYS}, **entry})
        if len(rows) != len(expected) or len(rows) != 8:
            sys.exit("FAILED: %d records, %d entries in JSON" % (len(rows), len(expected)))

        def text(value):
            return "" if value is None else ("true" if value is True else "false" if value is False else str(value))

        for row, entry in zip(rows, expected):
            if set(row) != set(entry):
                sys.exit("FAILED: fields %s, JSON keys %s" % (sorted(row), sorted(entry)))
            for key, value in entry.items():
                if key in ("file", "listed", "passed_over", "compress_id", "name"):
                    value = shown(text(value))
                if row[key] != text(value):
                    sys.exit("FAILED: %s of %r: %r in CSV, %r in JSON" % (key, entry["name"], row[key], value))
        if [row["name"] for row in rows[:6]] != [shown(n.decode("latin-1")) for n in names]:
            sys.exit("FAILED: names %r" % [row["name"] for row in rows])

        # The header record stays when the first file is left out.
        only = run("--csv", "--only-found", "plain.exe", "setup.exe").stdout.decode()
        if not only.startswith("file,path_encoding,") or len(list(csv.reader(io.StringIO(only, newline="")))) != 2:
            sys.exit("FAILED: --only-found --csv: %r" % only)
        # A line break in a name is a control byte: that entry is suspect, and
        # --hide-suspect leaves out every entry from it on.
        if rows[2]["suspect"] != "control byte in name" or rows[3]["suspect"] != "":
            sys.exit("FAILED: suspect %r" % [row["suspect"] for row in rows])
        hidden = list(csv.DictReader(io.StringIO(run("--csv", "--hide-suspect", "a,b.ARC").stdout.decode(), newline="")))
        if [row["name"] for row in hidden] != [n.decode() for n in names[:2]]:
            sys.exit("FAILED: --hide-suspect kept %r" % [row["name"] for row in hidden])
        print("%d records match --json" % len(rows))
        print("1 passed, 0 failed")


if __name__ == "__main__":
    main()
