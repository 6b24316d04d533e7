"""Debian's binwalk with tcompress.sig reports every archive header the reader
accepts with its identifier and nothing for broken headers; with the vexmira.py
plugin, `--dd` carves each located archive to its plausible end, byte for byte
what `vexmira --carve` writes."""

import os
import re
import shutil

import checks

args, scratch = checks.setup()
signatures = os.path.join(args.share, "binwalk", "tcompress.sig")
failures = checks.Failures()
carrier = os.path.join(scratch, "carve", "setup.exe")
data = open(carrier, "rb").read()


def binwalk(paths, plugin, *options, cwd=None):
    """Runs /usr/bin/binwalk with only our signatures; returns {file name: {offset: description}}."""
    config = os.path.join(scratch, "config-plugin" if plugin else "config-bare")
    os.makedirs(os.path.join(config, "binwalk", "plugins"), exist_ok=True)
    if plugin:
        shutil.copy(os.path.join(args.share, "binwalk", "vexmira.py"), os.path.join(config, "binwalk", "plugins"))
    env = dict(os.environ, XDG_CONFIG_HOME=config, VEXMIRA=args.vexmira)
    result = checks.run(["/usr/bin/binwalk", "--run-as=root", "-m", signatures] + list(options) + paths, env=env, cwd=cwd)
    failures.check(result.returncode == 0 and b"WARNING" not in result.stdout + result.stderr,
                   "binwalk %s exited %d\nstdout: %s\nstderr: %s" % (options, result.returncode,
                                                                    result.stdout.decode()[-2000:], result.stderr.decode()[-2000:]))
    # With one file binwalk prints no "Target File" line.
    found = {os.path.basename(path): {} for path in paths}
    current = found[os.path.basename(paths[0])] if len(paths) == 1 else None
    for line in result.stdout.decode().splitlines():
        target = re.match(r"Target File:\s+(.+)", line)
        row = re.match(r"(\d+)\s+0x[0-9A-F]+\s+(.+)", line)
        if target:
            current = found.setdefault(os.path.basename(target.group(1)), {})
        elif row and current is not None:
            current[int(row.group(1))] = row.group(2)
    return found


# Headers in the carrier: located ones, and a "CUS" one that the locator passes over.
located = checks.candidates(args.vexmira, [carrier])["setup.exe"]
listed = checks.candidates(args.vexmira, [carrier], passed_over=True)["setup.exe"]
headers = [match.start() for match in re.finditer(re.escape(b"SPIS\x1a"), data)]
failures.check(len(located) >= 2 and len(headers) > len(located),
               "the carrier should hold two located archives and one passed over: headers %s, located %s" %
               (headers, sorted(located)))
# vexmira --all lists every header binwalk reports, the passed-over ones marked.
failures.check(sorted(listed) == headers, "vexmira --all listed %s, headers at %s" % (sorted(listed), headers))

reported = binwalk([carrier], False).get("setup.exe", {})
failures.check(sorted(reported) == headers, "binwalk reported %s, headers at %s" % (reported, headers))
for offset, text in reported.items():
    identifier = data[offset + 5:offset + 8].decode()
    failures.check(text.startswith("TCompress ARC archive, compression: %s, type: 1" % identifier),
                   "at %d (%s): got %r" % (offset, identifier, text))

# Archives at the start of files: every one the reader accepts, no broken one.
folder = os.path.join(scratch, "magic")
rows = [line.rstrip("\n").split("\t") for line in open(os.path.join(folder, "manifest.tsv"))]
headed = [row for row in rows if row[0] != "none"]
alone = binwalk([os.path.join(folder, row[1]) for row in headed], False)
for row in headed:
    got = alone.get(row[1], {})
    if row[0] == "valid":
        failures.check(list(got) == [0] and ("compression: %s," % row[2]) in got[0], "%s: got %s" % (row[1], got))
    else:
        failures.check(got == {}, "%s (broken): got %s" % (row[1], got))

# Carving with the plugin, beside vexmira --carve.
binwalk_dir = os.path.join(scratch, "binwalk-out")
vexmira_dir = os.path.join(scratch, "vexmira-out")
os.makedirs(binwalk_dir)
os.makedirs(vexmira_dir)
carved = binwalk([carrier], True, "--dd=tcompress arc archive:arc", "--directory", binwalk_dir)
run = checks.run([args.vexmira, "--carve", "--all", "--quiet", "--output-dir", vexmira_dir, "--", carrier])
failures.check(run.returncode == 0, "vexmira --carve exited %d: %s" % (run.returncode, run.stderr.decode()[-2000:]))
extracted = os.path.join(binwalk_dir, "_setup.exe.extracted")
for offset in headers:
    path = os.path.join(extracted, "%X.arc" % offset)
    got = open(path, "rb").read() if os.path.exists(path) else None
    text = carved.get("setup.exe", {}).get(offset)
    end = listed[offset]["plausible_end"]
    failures.check(text is not None and text.endswith("plausible end: 0x%X" % end), "at %d: got %r" % (offset, text))
    if offset not in located:
        failures.check(text is not None and "passed over by the locator: " in text, "at %d: got %r" % (offset, text))
    expected_path = None
    for root, _, files in os.walk(vexmira_dir):
        expected_path = next((os.path.join(root, f) for f in files if f == "setup.exe.%08X.ARC" % offset), expected_path)
    expected = open(expected_path, "rb").read() if expected_path else None
    failures.check(expected == data[offset:end], "vexmira --carve at %d: %s bytes, plausible end %d" %
                   (offset, None if expected is None else len(expected), end))
    failures.check(got is not None and got == expected, "binwalk carved %s bytes at %d, vexmira --carve %s" %
                   (None if got is None else len(got), offset, None if expected is None else len(expected)))

# A tool that stalls after its first listing: the plugin takes what came,
# gives up at its time limit, and binwalk goes on with the default ends.
first = min(located)
stall = os.path.join(scratch, "stalling-vexmira")
with open(stall, "w") as script:
    script.write("#!/bin/sh\n\"%s\" \"$@\" | head -n 1\nexec sleep 300\n" % args.vexmira)
os.chmod(stall, 0o755)
config = os.path.join(scratch, "config-plugin")
env = dict(os.environ, XDG_CONFIG_HOME=config, VEXMIRA=stall, VEXMIRA_TIMEOUT="3")
result = checks.run(["timeout", "120", "/usr/bin/binwalk", "--run-as=root", "-m", signatures, carrier], env=env)
output = result.stdout.decode()
failures.check(result.returncode == 0 and "time limit" in output + result.stderr.decode(),
               "binwalk with a stalling tool exited %d: %s" % (result.returncode, output[-2000:]))
failures.check("plausible end: 0x%X" % located[first]["plausible_end"] in output,
               "the listing read before the stall was not used: %s" % output[-2000:])
failures.check(output.count("end unknown") == len(headers) - 1, "later results: %s" % output[-2000:])

failures.finish("binwalk")
