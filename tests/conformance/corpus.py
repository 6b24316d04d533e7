"""The one corpus every front end lists in the conformance tests: the sample
builder's carriers, and files built here byte by byte where it has no mode
(empty archives, a walk that joins outside an earlier carve, hostile names).

    python3 corpus.py VEXMIRA_SAMPLE DIR   writes the files into DIR (made
                                           afresh) and prints one name a line

Names that are not valid UTF-8 are left out with --utf8-names (a browser's
file chooser cannot hand them over as they are)."""
import os
import shutil
import struct
import subprocess
import sys

STUB = b"MZ" + b"\x90" * 39998


def archive_header(identifier=b"LZH", archive_type=1):
    return b"SPIS\x1a" + identifier + struct.pack("<iBII", 0, archive_type, 0, 0)


def entry(name, full, stored, method, data=None):
    if data is None:
        data = b"\xee" * stored
    return struct.pack("<hIHiiBII", len(name), 0, 0, full, stored, method, 0, 0) + name + data


def joined_outside_carve():
    # A's walk: one plausible entry, then one with a method out of range
    # (from here on A's entries are trailing data), whose stored data ends
    # in B's archive header, so that B's first entry is A's third. B's walk
    # reaches A's fourth and joins it there, past A's plausible end: B lies
    # outside A's carve and is carved on its own.
    b_header = archive_header()
    suspect_data = b"\x00" * 300 + b_header
    body = (archive_header()
            + entry(b"FIRST.TXT", 500, 200, 4)
            + entry(b"ODD.BIN", len(suspect_data), len(suspect_data), 9, suspect_data)
            + entry(b"SECOND.TXT", 900, 400, 2)
            + entry(b"THIRD.TXT", 70, 70, 0))
    return STUB + body + b"\x90" * 100


def build(sample_tool, folder, utf8_names_only):
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    names = []

    def sample(*args):
        subprocess.run([sample_tool, *args], cwd=folder, check=True)

    def write(name, data):
        with open(os.path.join(os.fsencode(folder), os.fsencode(name)), "wb") as out:
            out.write(data)

    for name, args in [
        ("setup.exe", ["carrier", "setup.exe"]),
        ("x.arc", ["carrier", "x.arc"]),            # lower case: located, as the rule is case-sensitive
        ("SAMPLE.ARC", ["archive", "SAMPLE.ARC"]),  # listed directly, never carved
        ("hostile.exe", ["hostile", "hostile.exe"]),
        ("noise.bin", ["noise", "noise.bin", "300000"]),
        ("tail.exe", ["tail", "tail.exe", "100000"]),
        ("MANY.ARC", ["many", "MANY.ARC", "2000"]),
        ("repeated.bin", ["filler", "archives", "repeated.bin", "65536"]),
    ]:
        sample(*args)
        names.append(name)
    # Empty archives: a header and nothing after it, located and listed directly.
    write("empty.exe", STUB + archive_header())
    write("EMPTY.ARC", archive_header())
    write("joined.exe", joined_outside_carve())
    # A header the reader refuses, and a carrier that ends inside an archive header.
    write("refused.exe", STUB + archive_header(archive_type=7) + entry(b"NEVER.TXT", 1, 1, 0))
    write("cut.exe", STUB + archive_header()[:15])
    # Hostile file names: JSON's escapes, a control byte, non-ASCII.
    with open(os.path.join(folder, "setup.exe"), "rb") as carrier:
        setup = carrier.read()
    for name in ['quote " back \\ slash.exe', "na\u00efve \u2013 \u65e5\u672c.exe", "tab\there.exe"]:
        write(name, setup)
        names.append(name)
    if not utf8_names_only:
        name = os.fsdecode(b"latin\xe9.exe")
        write(name, setup)
        names.append(name)
    names += ["empty.exe", "EMPTY.ARC", "joined.exe", "refused.exe", "cut.exe"]
    return names


if __name__ == "__main__":
    arguments = [arg for arg in sys.argv[1:] if arg != "--utf8-names"]
    if len(arguments) != 2:
        sys.exit(__doc__)
    for listed in build(os.path.abspath(arguments[0]), arguments[1], "--utf8-names" in sys.argv):
        sys.stdout.buffer.write(os.fsencode(listed) + b"\n")
