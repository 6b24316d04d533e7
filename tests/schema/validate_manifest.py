#!/usr/bin/python3
"""Validates real --extract manifests against their schema, and each line
against the files written.

Usage: validate_manifest.py VEXMIRA MANIFEST_SCHEMA LISTING_SCHEMA
Archives are built here byte by byte from the layout, as validate_output.py
builds them.
"""
import hashlib
import json
import os
import subprocess
import sys
import tempfile

import jsonschema

from validate_output import archive


def main():
    vexmira, manifest_path, listing_path = sys.argv[1:4]
    with open(manifest_path, encoding="utf-8") as f:
        manifest_schema = json.load(f)
    with open(listing_path, encoding="utf-8") as f:
        listing_schema = json.load(f)
    jsonschema.Draft202012Validator.check_schema(manifest_schema)
    manifest = jsonschema.Draft202012Validator(manifest_schema)
    entry = jsonschema.Draft202012Validator({"$ref": "#/$defs/entry", "$defs": listing_schema["$defs"]})

    hostile = [b"../up.txt", b"/abs", b"C:\\x", b"CON", b"a.", b"A.TXT", b"a.txt", b"\xe9t\xe9", b"L" * 300]
    stub = b"MZ" + b"\x90" * 39998
    with tempfile.TemporaryDirectory() as scratch:
        def write(name, data):
            with open(os.path.join(scratch, name), "wb") as f:
                f.write(data)

        write("a.ARC", archive([(b"README.TXT", 5120, 2210, 4), (b"LOGO.BMP", 300, 300, 0),
                                (b"SETUP.INI", 812, 530, 1), (b"M9", 5, 5, 9)]))
        write("hostile.exe", stub + archive([(name, 10, 10, 0) for name in hostile]))
        write("cut.ARC", archive([(b"WHOLE", 10, 10, 0), (b"CUT", 100, 100, 0)])[:-50])
        inner = archive([(b"INNER.TXT", 30, 30, 0)])
        outer = archive([(b"OUTER.BIN", len(inner), len(inner), 0)])
        write("nest.exe", stub + outer[:-len(inner)] + inner)

        runs = [["a.ARC", "hostile.exe", "cut.ARC"], ["--include-suspect", "a.ARC", "cut.ARC"],
                ["--all", "nest.exe"], ["--hash", "--force", "a.ARC"]]
        seen = set()
        lines = 0
        for number, args in enumerate(runs):
            out = os.path.join(scratch, f"out{number}" if "--force" not in args else "out0")
            result = subprocess.run([vexmira, "--json", "--quiet", "--extract", out, *args], cwd=scratch,
                                    capture_output=True, check=False)
            if result.returncode != 0:
                sys.exit(f"vexmira {args} exited {result.returncode}: {result.stderr!r}")
            for folder, _, files in os.walk(out):
                if "manifest.jsonl" not in files:
                    continue
                with open(os.path.join(folder, "manifest.jsonl"), encoding="utf-8") as f:
                    for text in f:
                        line = json.loads(text)
                        errors = list(manifest.iter_errors(line)) + list(entry.iter_errors(line["entry"]))
                        if errors:
                            sys.exit(f"{folder}: {text!r} does not match the schema:\n"
                                     + "\n".join(f"  {list(e.path)}: {e.message}" for e in errors))
                        lines += 1
                        if line["path"] is None:
                            seen.add("not written")
                            continue
                        with open(os.path.join(folder, line["path"]), "rb") as written:
                            data = written.read()
                        if len(data) != line["size"] or hashlib.sha256(data).hexdigest() != line["sha256"]:
                            sys.exit(f"{folder}/{line['path']}: size or sha256 differs from the manifest")
                        seen.add("raw" if line["raw"] else "file")
        wanted = {"not written", "raw", "file"}
        if seen != wanted:
            sys.exit(f"kinds of line not seen: {sorted(wanted - seen)}")
        print(f"{lines} passed, 0 failed")


if __name__ == "__main__":
    main()
