"""`yara -s vexmira.yar` reports exactly the candidate offsets that
`vexmira --all --json` lists, over carriers with several candidates, block
edges, 'G' and 'P' at bytes 56 and 57, "CUS" archives and ends of files."""

import os
import re

import checks

args, scratch = checks.setup()
folder = os.path.join(scratch, "scan")
names = sorted(os.listdir(folder))
failures = checks.Failures()

# yara exits 0 whether or not a rule matched: its output is what counts.
result = checks.run(["yara", "-s", os.path.join(args.share, "vexmira.yar"), folder])
failures.check(result.returncode == 0 and not result.stderr,
               "yara exited %d: %s" % (result.returncode, result.stderr.decode()[:2000]))
reported = {name: set() for name in names}
current = None
for line in result.stdout.decode("latin-1").splitlines():
    rule = re.fullmatch(r"tcompress_arc_archive (.+)", line)
    offset = re.match(r"0x([0-9a-f]+):\$header: ", line)
    if rule:
        current = os.path.basename(rule.group(1))
    elif offset and current in reported:
        reported[current].add(int(offset.group(1), 16))
    else:
        failures.check(False, "unexpected yara output line: %r" % line)

located = checks.candidates(args.vexmira, [os.path.join(folder, name) for name in names])
for name in names:
    expected = set(located[name])
    failures.check(reported[name] == expected, "%s: yara reported %s, vexmira --all lists %s (only yara: %s, only vexmira: %s)" %
                   (name, sorted(reported[name]), sorted(expected), sorted(reported[name] - expected),
                    sorted(expected - reported[name])))

# The carriers hold near misses too: more signatures than candidates.
signatures = sum(open(os.path.join(folder, name), "rb").read().count(b"SPIS\x1a") for name in names)
candidates = sum(len(located[name]) for name in names)
failures.check(0 < candidates < signatures, "%d candidates among %d signatures" % (candidates, signatures))
failures.finish("yara")
