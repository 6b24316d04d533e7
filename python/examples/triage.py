"""Triage a folder of carriers, as a notebook would: every archive found, a
DataFrame of its entries, and the archives holding suspect entries carved
out for a closer look, with the SHA-256 of each plausible entry's stored bytes.

    python3 triage.py FOLDER OUT_DIR
"""
import os
import sys

import pandas

import vexmira


def entries_of(folder: str) -> pandas.DataFrame:
    rows = []
    for name in sorted(os.listdir(folder)):
        path = os.path.join(folder, name)
        try:
            archives = vexmira.scan(path)
        except vexmira.Error as error:  # unreadable: say why and go on
            print(f"{name}: {error}", file=sys.stderr)
            continue
        for archive in archives:
            for entry in archive:
                rows.append({"file": name, "offset": archive.offset, **entry.to_dict()})
    frame = pandas.DataFrame(rows, columns=["file", "offset", "name", "full_size", "method_name", "suspect"])
    return frame.astype({"suspect": "string"})


def main(folder: str, out_dir: str) -> None:
    frame = entries_of(folder)
    print(frame.groupby("file").size().rename("entries").to_string())
    suspicious = frame[frame["suspect"].notna()][["file", "offset"]].drop_duplicates()
    for file, offset in suspicious.itertuples(index=False):
        try:
            carved = vexmira.carve(os.path.join(folder, file), int(offset), out_dir, force=True)
        except vexmira.CreateError as error:  # nothing worth carving before the suspect entry
            print(f"{file} at {offset}: {error}", file=sys.stderr)
            continue
        print(f"carved {os.fsdecode(carved)}")
        with vexmira.open(carved, hashes=True) as archive:  # a .ARC: listed directly
            for entry in archive.entries():
                print(f"  {entry.name} {entry.sha256 or entry.data_error}")


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
