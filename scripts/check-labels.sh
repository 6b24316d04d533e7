#!/usr/bin/env bash
# Fails when a registered test carries no label, or one outside the set that
# cmake/Testing.cmake describes: `ctest -L` would then miss it or mislead.
#
# Usage: scripts/check-labels.sh [BUILD_DIR...]   (default: every built tree under build/)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
if [ $# -eq 0 ]; then
    for tests in "$root"/build/*/CTestTestfile.cmake; do
        [ -e "$tests" ] && set -- "$@" "$(dirname "$tests")"
    done
fi
[ $# -ne 0 ] || { echo "check-labels: no built tree to look at" >&2; exit 2; }
status=0
for tree in "$@"; do
    ctest --test-dir "$tree" --show-only=json-v1 | /usr/bin/python3 -c '
import json, sys
allowed = {"unit", "slow", "wine", "browser", "integration"}
tree, tests = sys.argv[1], json.load(sys.stdin)["tests"]
bad = []
for test in tests:
    labels = next((p["value"] for p in test.get("properties", []) if p["name"] == "LABELS"), [])
    if not labels or not set(labels) <= allowed:
        bad.append("%s (%s)" % (test["name"], ",".join(labels) or "no label"))
for line in bad:
    print(f"check-labels: {tree}: {line}", file=sys.stderr)
print(f"check-labels: {tree}: {len(tests) - len(bad)} passed, {len(bad)} failed")
sys.exit(1 if bad else 0)
' "$tree" || status=1
done
exit $status
