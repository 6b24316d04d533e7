#!/usr/bin/python3
"""Validates real vexmira --json output of every kind against the schema.

Usage: validate_output.py VEXMIRA SCHEMA
Archives are built here byte by byte from the layout: an archive header
("SPIS" 0x1A, identifier, size, type, long, flags) and entry headers (name
length, long, word, full size, stored size, method, long, flags), each name
and its stored bytes.
"""
import json
import os
import struct
import subprocess
import sys
import tempfile

import jsonschema


def archive(entries, identifier=b"LZH", archive_type=1):
    data = b"SPIS\x1a" + identifier + struct.pack("<iBII", 0, archive_type, 0, 0)
    for name, full, stored, method in entries:
        data += struct.pack("<hIHiiBII", len(name), 0, 0, full, stored, method, 0, 0) + name + b"\xee" * max(stored, 0)
    return data


def main():
    vexmira, schema_path = sys.argv[1], sys.argv[2]
    with open(schema_path, encoding="utf-8") as f:
        schema = json.load(f)
    jsonschema.Draft202012Validator.check_schema(schema)
    validator = jsonschema.Draft202012Validator(schema)

    sample = archive([(b"README.TXT", 5120, 2210, 4), (b"LOGO.BMP", 300, 300, 0), (b"SETUP.INI", 812, 530, 1)])
    stub = b"MZ" + b"\x90" * 39998
    with tempfile.TemporaryDirectory() as scratch:
        def write(name, data):
            with open(os.path.join(scratch, name), "wb") as f:
                f.write(data)

        write("a.ARC", sample)
        write("setup.exe", stub + sample)
        write("padded.exe", stub + sample + bytes(100))
        write("plain.exe", stub)
        write("bad.ARC", archive([(b"X", 1, 1, 0)], archive_type=0))
        write("id.ARC", archive([(b"X", 1, 1, 0)], identifier=b"\xe9zz"))
        write("caf\xe9.ARC".encode("latin-1").decode("utf-8", "surrogateescape"), sample)
        write("multi.exe", stub + sample + b"\xff" * 9000 + archive([(b"SECOND.TXT", 10, 10, 0)], identifier=b"NON"))
        os.mkdir(os.path.join(scratch, "folder"))
        write("folder/inner.exe", stub + sample)
        write("folder/inner.exe$$$", sample)  # named as a side file: -r skips it
        os.mkdir(os.path.join(scratch, "blocked.exe$$$"))
        write("blocked.exe", stub + sample)
        write("oom.ARC", sample)
        # Archives end to end, each entry's stored bytes being the next one's
        # header: --all folds the joining listings into one, and the first
        # walk's entries, each the one before it moved on, into one run.
        write("chain.exe", stub + archive([(b"CHAINED.DAT", 21, 21, 0)])[:-21] * 10)
        # Archives of one empty entry end to end: each walk stops before the
        # next one's header, which read as an entry holds the signature.
        write("minimal.bin", archive([(b"", 0, 0, 4)]) * 600)
        # An archive whose entry's stored bytes end 13 bytes into the header
        # of the archive at 200: its next entry overlaps that one's first.
        first = archive([(b"A1", 2, 165, 0)])[:48]
        write("overlap.bin", first + b"\xee" * (200 - len(first)) + archive([(b"", 0, 0, 4)]))

        write("cut.ARC", archive([(b"WHOLE", 10, 10, 0), (b"CUT", 100, 100, 0)])[:-50])

        runs = [
            ["a.ARC", "setup.exe", "plain.exe", "bad.ARC", "id.ARC", "missing.ARC", "folder", "blocked.exe",
             "caf\xe9.ARC".encode("latin-1").decode("utf-8", "surrogateescape")],
            ["--in-place", "padded.exe", "setup.exe"],
            ["--all", "multi.exe", "plain.exe", "chain.exe"],
            ["--carve", "padded.exe", "multi.exe"],
            ["--all", "--carve", "multi.exe"],
            ["--all", "minimal.bin", "overlap.bin"],
            ["--all", "--carve", "--output-dir", "carves", "chain.exe"],
            ["oom.ARC"],
            ["--hash", "a.ARC", "padded.exe", "cut.ARC", "plain.exe", "--all", "multi.exe"],
            ["--summary", "a.ARC", "padded.exe", "plain.exe", "bad.ARC", "--all", "multi.exe"],
            ["--stats", "--all", "a.ARC", "plain.exe", "bad.ARC", "multi.exe"],
            ["--stats", "--summary", "-r", "folder"],
        ]
        seen = set()
        objects = 0
        for args in runs:
            env = dict(os.environ, VEXMIRA_TEST_FAIL_ALLOCATION="oom.ARC")
            result = subprocess.run([vexmira, "--json", "--quiet", *args], cwd=scratch, env=env,
                                    capture_output=True, check=False)
            if result.returncode not in (0, 1, 2):
                sys.exit(f"vexmira {args} exited {result.returncode}: {result.stderr!r}")
            lines = result.stdout.decode("utf-8").splitlines()
            for number, line in enumerate(lines, 1):
                obj = json.loads(line)
                errors = sorted(validator.iter_errors(obj), key=lambda e: list(e.path))
                if errors:
                    sys.exit(f"vexmira {args}: {obj['file']!r} does not match the schema:\n"
                             + "\n".join(f"  {list(e.path)}: {e.message}" for e in errors))
                objects += 1
                if obj.get("kind") == "stats":
                    # The account closes the output, and adds up what the listings said.
                    listings = lines[:-1]
                    if number != len(lines) or "--stats" not in args:
                        sys.exit(f"vexmira {args}: a stats object on line {number} of {len(lines)}")
                    files = {json.loads(other)["file"] for other in listings}
                    if obj["files"] != len(files) or obj["found"] + obj["not_found"] + obj["failed"] != obj["files"]:
                        sys.exit(f"vexmira {args}: {obj} does not count the files {sorted(files)}")
                    if obj["skipped"] != ("-r" in args):
                        sys.exit(f"vexmira {args}: {obj} should have skipped the side file's name in a walk only")
                    seen.add("stats")
                    continue
                if "entry_count" in obj:
                    seen.add("summary")
                    continue
                if obj["error"]:
                    seen.add("error")
                if obj["offset"] is None and not obj["error"]:
                    seen.add("not found")
                if obj["entries"]:
                    seen.add("listed")
                if any(e["suspect"] for e in obj["entries"]):
                    seen.add("suspect")
                if obj.get("input_sha256"):
                    seen.add("hashed")
                if any(e.get("data_error") for e in obj["entries"]):
                    seen.add("data past the end")
                if obj["carved"]:
                    seen.add("carved")
                if "also_at" in obj:
                    seen.add("folded")
                if any("also_at" in e for e in obj["entries"]):
                    seen.add("folded entries")
                if "stopped" in obj:
                    seen.add("stopped by a signature" if "signature" in obj["stopped"] else "stopped by an overlap")
                if "carved_in" in obj:
                    seen.add("carved in")
                if obj["path_encoding"] == "latin-1":
                    seen.add("latin-1")
                if obj["error"] == "Out of memory":
                    seen.add("out of memory")
        wanted = {"stats", "error", "not found", "listed", "suspect", "carved", "latin-1", "out of memory", "summary", "folded",
                  "folded entries", "stopped by a signature", "stopped by an overlap", "carved in", "hashed",
                  "data past the end"}
        if seen != wanted:
            sys.exit(f"kinds of output not seen: {sorted(wanted - seen)}")
        print(f"{objects} objects of {len(wanted)} kinds match the schema")
        print(f"{objects} passed, 0 failed")


if __name__ == "__main__":
    main()
