"""`file -m vexmira.magic` names every archive the reader accepts with its
identifier, type and first name, says "damaged" for broken headers, and
matches nothing without the signature at the start. The same holds beside the
system's own database in the order the docs give (ours first: the stock
database has a broader rule for the same first bytes), and there a program
the system database knows keeps its own answer."""

import json
import os

import checks

args, scratch = checks.setup()
folder = os.path.join(scratch, "magic")
magic = os.path.join(args.share, "vexmira.magic")
# Debian's compiled database, as the docs name it, and a file only it names.
beside_system = magic + ":/usr/share/misc/magic.mgc"
system_file = "/bin/ls"
failures = checks.Failures()

with open(os.path.join(folder, "manifest.tsv"), encoding="latin-1") as manifest:
    rows = [line.rstrip("\n").split("\t") for line in manifest]
paths = [os.path.join(folder, row[1]) for row in rows]


def describe(magic_path, files, *options):
    result = checks.run(["file", "-b", "-m", magic_path] + list(options) + files)
    lines = result.stdout.decode("latin-1").splitlines()
    if result.returncode != 0 or len(lines) != len(files) or result.stderr:
        failures.check(False, "file -m %s %s exited %d with %d lines for %d files; stderr: %s" %
                       (magic_path, " ".join(options), result.returncode, len(lines), len(files),
                        result.stderr.decode()[:2000]))
        return [""] * len(files)
    return lines


# The reader's verdict on the same files: listed, or which header error.
headed = [path for path, row in zip(paths, rows) if row[0] != "none"]
listings = checks.run([args.vexmira, "--json", "--jobs", "1", "--"] + headed).stdout.splitlines()
listed = {os.path.basename(listing["file"]): listing for listing in map(json.loads, listings)}

for magic_path in (magic, beside_system):
    described = describe(magic_path, paths)
    mime = describe(magic_path, paths, "--mime-type")
    extension = describe(magic_path, paths, "--extension")
    for row, text, mime_type, ext in zip(rows, described, mime, extension):
        kind, name = row[0], row[1]
        got = "%s with -m %s: got %r (mime %r, extension %r)" % (name, magic_path, text, mime_type, ext)
        if kind == "valid":
            identifier, entries, first_name = row[2], int(row[3]), row[4]
            failures.check(listed[name]["error"] is None,
                           "%s: the reader refuses it: %s" % (name, listed[name]["error"]))
            failures.check(text.startswith("TCompress ARC archive, type 1 (multi-file), compression %s" % identifier),
                           got)
            failures.check("damaged" not in text, got)
            if entries == 0:
                failures.check("first" not in text, got)
            elif first_name == "":
                failures.check(text.endswith(", first entry has an empty name"), got)
            else:
                shown = first_name[:16] + ("..." if len(first_name) > 16 else "")
                failures.check(text.endswith(', first name "%s"' % shown), got)
            failures.check(mime_type == "application/x-vexmira-arc", got)
            failures.check(ext == "ARC/arc", got)
        elif kind == "broken":
            failures.check(listed[name]["error"] is not None or listed[name]["entries"] == [],
                           "%s: the reader lists it: %s" % (name, listed[name]))
            failures.check(text.startswith("TCompress ARC archive, damaged"), got)
            failures.check("multi-file)" not in text and "first" not in text, got)
            failures.check(mime_type != "application/x-vexmira-arc", got)
        else:
            failures.check("TCompress" not in text and mime_type != "application/x-vexmira-arc", got)

beside = describe(beside_system, [system_file])[0]
failures.check(beside.startswith("ELF "), "%s with -m %s: got %r" % (system_file, beside_system, beside))

failures.check(sum(row[0] == "valid" for row in rows) >= 5 and sum(row[0] == "broken" for row in rows) >= 3
               and sum(row[0] == "none" for row in rows) >= 3, "too few generated files: %s" % rows)
failures.finish("file")
