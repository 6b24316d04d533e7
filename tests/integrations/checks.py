"""What the file, YARA and binwalk checks share: their arguments, a scratch
folder with the generated files, running programs, and failures that say
what was got."""

import argparse
import json
import os
import subprocess
import sys
import tempfile


class Failures:
    def __init__(self):
        self.lines = []

    def check(self, condition, message):
        if not condition:
            self.lines.append(message)

    def finish(self, what):
        if self.lines:
            print("FAILED: %d of the %s checks:" % (len(self.lines), what), file=sys.stderr)
            for line in self.lines:
                print("  " + line, file=sys.stderr)
            sys.exit(1)
        print("%s: all checks passed" % what)


def setup():
    """Parses the arguments and writes the generated files to a scratch folder;
    returns the arguments and that folder (removed at exit)."""
    parser = argparse.ArgumentParser()
    parser.add_argument("--files", required=True, help="the generator of archives and carriers")
    parser.add_argument("--vexmira", required=True)
    parser.add_argument("--share", required=True, help="share/vexmira of the source tree")
    args = parser.parse_args()
    scratch = tempfile.TemporaryDirectory(prefix="vexmira-integration-")
    run([args.files, scratch.name])
    args.scratch = scratch  # kept alive with the arguments
    return args, scratch.name


def run(command, **kwargs):
    """Runs a command; a failure to start or a crash ends the test with its output."""
    try:
        result = subprocess.run(command, capture_output=True, **kwargs)
    except FileNotFoundError:
        sys.exit("FAILED: %s is not installed (scripts/setup.sh installs file, yara and binwalk)" % command[0])
    if result.returncode < 0 or result.returncode >= 126:
        sys.exit("FAILED: %s ended with %d\nstdout: %s\nstderr: %s" %
                 (command, result.returncode, result.stdout[-2000:], result.stderr[-2000:]))
    return result


def candidates(vexmira, paths, passed_over=False):
    """Every candidate offset that `vexmira --all --json` reports, by file;
    with passed_over, also the headers it marks as passed over."""
    result = run([vexmira, "--json", "--all", "--jobs", "1", "--"] + paths)
    if result.returncode not in (0, 1, 2):
        sys.exit("FAILED: vexmira exited %d: %s" % (result.returncode, result.stderr[-2000:]))
    found = {os.path.basename(path): {} for path in paths}
    for line in result.stdout.decode().splitlines():
        listing = json.loads(line)
        if listing["offset"] is not None and (listing["located"] or passed_over and listing["passed_over"]):
            # A folded run stands for candidates every so many bytes after it.
            folded = listing.get("also_at") or {"count": 0, "every": 0}
            for k in range(folded["count"] + 1):
                found[os.path.basename(listing["file"])][listing["offset"] + k * folded["every"]] = listing
    return found
