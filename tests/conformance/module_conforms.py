"""The module against the tool on the one corpus (corpus.py): json_lines, list,
iteration of open(), iter_entries, json_part and carve give the tool's JSON bytes, carve bytes
and refusals. Every difference is printed, naming the file, the call and the
first key that differs; the exit status is 1 when there is any.

    python3 module_conforms.py VEXMIRA VEXMIRA_SAMPLE WORKDIR
(the module found on PYTHONPATH)"""
import json
import os
import shutil
import subprocess
import sys

import vexmira

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import corpus  # noqa: E402  (beside this file)

failures = []


def first_difference(expected, got, where=""):
    """The path of the first key (or index) where got differs, or None."""
    if isinstance(expected, dict) and isinstance(got, dict):
        for key in list(expected) + [k for k in got if k not in expected]:
            if key not in got or key not in expected:
                return f"{where}.{key} (only in {'the tool' if key in expected else 'the module'})"
            found = first_difference(expected[key], got[key], f"{where}.{key}")
            if found:
                return found
        return None
    if isinstance(expected, list) and isinstance(got, list):
        for index, (a, b) in enumerate(zip(expected, got)):
            found = first_difference(a, b, f"{where}[{index}]")
            if found:
                return found
        return None if len(expected) == len(got) else f"{where} ({len(expected)} items against {len(got)})"
    if expected != got or type(expected) is not type(got):
        return f"{where or 'the value'}: tool {expected!r}, module {got!r}"
    return None


def check(name, call, expected, got):
    where = first_difference(expected, got)
    if where:
        failures.append(f"{name!r}: module {call} differs from the tool at {where}")


def check_bytes(name, call, expected, got):
    if expected != got:
        split = next((i for i, (a, b) in enumerate(zip(expected, got)) if a != b), min(len(expected), len(got)))
        line = expected[:split].count(b"\n")
        failures.append(f"{name!r}: module {call} differs from the tool's bytes at byte {split} (line {line + 1}): "
                        f"tool {expected[split:split + 80]!r}, module {got[split:split + 80]!r}")


def tool(*args):
    run = subprocess.run([VEXMIRA, *args], cwd=WORKDIR, capture_output=True, check=False)
    return run.stdout


def objects(stdout):
    return [json.loads(line) for line in stdout.decode("utf-8").splitlines()]


def without_name_bytes(thing):
    if isinstance(thing, dict):
        return {key: without_name_bytes(value) for key, value in thing.items() if key != "name_bytes"}
    if isinstance(thing, list):
        return [without_name_bytes(value) for value in thing]
    return thing


def module_call(work):
    """What a module call gives: ("value", result) or ("refused", message)."""
    try:
        return "value", work()
    except vexmira.Error as error:
        return "refused", str(error)


def carved_by_tool(stdout, out_dir):
    """What the tool's --carve wrote for its first listing: ("file", name, bytes),
    ("refused", reason) or ("none",), the output folder cut from the reason."""
    first = objects(stdout)[0]
    carved = first.get("carved")
    if carved:
        # A path's bytes come back as the listing says it read them.
        path = carved["path"].encode("latin-1" if first["path_encoding"] == "latin-1" else "utf-8")
        with open(os.path.join(os.fsencode(WORKDIR), path), "rb") as f:
            return "file", os.path.basename(path), f.read()
    if first.get("error"):
        return "refused", first["error"].replace(os.path.join(WORKDIR, out_dir), "OUT")
    return ("none",)


def carved_by_module(work, out_dir):
    outcome, value = module_call(work)
    if outcome == "refused":
        return "refused", value.replace(os.path.join(WORKDIR, out_dir), "OUT")
    if value is None:
        return ("none",)
    with open(os.path.join(os.fsencode(WORKDIR), os.fsencode(value)), "rb") as f:
        return "file", os.path.basename(os.fsencode(value)), f.read()


def fresh(folder):
    shutil.rmtree(os.path.join(WORKDIR, folder), ignore_errors=True)
    return folder


def conform(name):
    listing = tool("--json", "--in-place", name)
    lines = objects(listing)

    check_bytes(name, "json_lines()", listing, vexmira.json_lines(name))

    outcome, got = module_call(lambda: vexmira.list(name))
    if outcome == "refused":
        check(name, "list() refusal", lines[0].get("error"), got)
    else:
        check(name, "list()", lines[0], without_name_bytes(got))

    outcome, archive = module_call(lambda: vexmira.open(name))
    if outcome == "refused":
        check(name, "open() refusal", lines[0].get("error"), archive)
    else:
        with archive:
            check_bytes(name, "open().to_json()", listing.split(b"\n")[0], archive.to_json().encode("utf-8"))
            outcome, entries = module_call(lambda: [entry.to_dict() for entry in archive])
            if outcome == "refused":
                check(name, "iteration of open() refusal", lines[0].get("error"), entries)
            else:
                check(name, "iteration of open()", lines[0]["entries"], without_name_bytes(entries))

    outcome, entries = module_call(lambda: [entry for entry in vexmira.iter_entries(name)])
    if outcome == "refused":
        check(name, "iter_entries() refusal", lines[0].get("error"), entries)
    else:
        check(name, "iter_entries()", lines[0]["entries"], without_name_bytes(entries))

    # In small pieces, each resumed from the last one's token.
    pieces, token = [], None
    while True:
        piece, token = vexmira.json_part(name, token, limit=256)
        pieces.append(piece)
        if token is None:
            break
    check_bytes(name, f"json_part() in {len(pieces)} pieces", listing, b"".join(pieces))

    every = tool("--json", "--in-place", "--all", name)

    # The located carve, and the carve at every offset --all lists.
    tool_out, module_out = fresh("carved-by-tool"), fresh("carved-by-module")
    expected = carved_by_tool(tool("--json", "--carve", "--output-dir", tool_out, name), tool_out)
    got = carved_by_module(lambda: vexmira.open(name).carve(os.path.join(WORKDIR, module_out)), module_out)
    check(name, "open().carve()", expected, got)
    for offset in sorted({o["offset"] for o in objects(every) if isinstance(o.get("offset"), int)}):
        tool_out, module_out = fresh("carved-by-tool"), fresh("carved-by-module")
        expected = carved_by_tool(
            tool("--json", "--offset", str(offset), "--carve", "--output-dir", tool_out, name), tool_out)
        got = carved_by_module(lambda: vexmira.carve(name, offset, os.path.join(WORKDIR, module_out)), module_out)
        check(name, f"carve(offset={offset})", expected, got)


if __name__ == "__main__":
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    VEXMIRA, SAMPLE = (os.path.abspath(arg) for arg in sys.argv[1:3])
    WORKDIR = os.path.abspath(sys.argv[3])
    names = corpus.build(SAMPLE, WORKDIR, utf8_names_only=False)
    os.chdir(WORKDIR)  # the module's names as the tool's: relative to the corpus
    for listed in names:
        conform(listed)
    for failure in failures:
        print("FAIL", failure)
    print(f"{len(names)} files, {len(failures)} differences")
    sys.exit(1 if failures else 0)
