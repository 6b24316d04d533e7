#!/usr/bin/env bash
# Times whole-process listings of many entries beside `unzip -l` in one run:
# vexmira plain, --json, --csv and --summary on archives of 1,000,000 and
# 4,000,000 entries,
# and `unzip -l` on a zip holding the same 1,000,000 names, and the Python
# module (vexmira.open() iterated, iter_entries, list()) on the
# 1,000,000-entry archive, all in the page cache, output to /dev/null. Prints the median wall time, entries per
# second and the largest peak resident size over RUNS runs (default 5).
#
# Usage: scripts/bench-listing.sh [BUILD_DIR]   (default build/native)
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build/native}
vexmira=$build/cli/vexmira
sample=$build/tests/cli/vexmira_sample
dir=${BENCH_DIR:-build/bench}
runs=${RUNS:-5}

for program in "$vexmira" "$sample"; do
    [[ -x $program ]] || { echo "missing $program: build the native preset first (make native)" >&2; exit 1; }
done
command -v unzip > /dev/null || { echo "unzip is missing: apt-get install unzip" >&2; exit 1; }

mkdir -p "$dir"
m1=$dir/many-1m.ARC
m4=$dir/many-4m.ARC
zip=$dir/many-1m.zip
[[ -f $m1 ]] || "$sample" many "$m1" 1000000
[[ -f $m4 ]] || "$sample" many "$m4" 4000000
if [[ ! -f $zip ]]; then
    echo "writing $zip ..."
    /usr/bin/python3 - "$zip" <<'PY'
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_STORED) as archive:
    for i in range(1_000_000):
        archive.writestr(f"FILE{i:07d}.DAT", b"")
PY
fi
cat "$m1" "$m4" "$zip" > /dev/null  # into the page cache

# Prints "SECONDS KIB" for one run of the command, output to /dev/null.
measure() { /usr/bin/time -f "%e %M" "$@" 2>&1 > /dev/null | tail -n 1; }

report() {
    local label=$1 entries=$2; shift 2
    local times=() peak=0
    for ((i = 0; i < runs; i++)); do
        read -r seconds kib < <(measure "$@")
        times+=("$seconds")
        ((kib > peak)) && peak=$kib
    done
    local median
    median=$(printf '%s\n' "${times[@]}" | sort -n | sed -n "$(((runs + 1) / 2))p")
    awk -v l="$label" -v s="$median" -v n="$entries" -v k="$peak" \
        'BEGIN { printf "%-38s %7.3f s  %6.2f M entries/s  peak %6.1f MiB\n", l, s, (s > 0 ? n / s / 1e6 : 0), k / 1024 }'
}

echo "median of $runs runs, output to /dev/null"
report "unzip -l, 1,000,000 entries" 1000000 unzip -l "$zip"
report "vexmira, 1,000,000 entries" 1000000 "$vexmira" "$m1"
report "vexmira --json, 1,000,000 entries" 1000000 "$vexmira" --json "$m1"
report "vexmira --csv, 1,000,000 entries" 1000000 "$vexmira" --csv "$m1"
report "vexmira --summary, 1,000,000 entries" 1000000 "$vexmira" --summary "$m1"
report "vexmira, 4,000,000 entries" 4000000 "$vexmira" "$m4"
report "vexmira --json, 4,000,000 entries" 4000000 "$vexmira" --json "$m4"

# The module, interpreter start included; each beside the --json row above.
python=(env "PYTHONPATH=$build/python" /usr/bin/python3 -c)
if "${python[@]}" "import vexmira" 2> /dev/null; then
    report "python open(), iterated, 1,000,000" 1000000 "${python[@]}" \
        "import sys, vexmira
with vexmira.open(sys.argv[1]) as archive:
    for entry in archive: pass" "$m1"
    report "python iter_entries, 1,000,000" 1000000 "${python[@]}" \
        "import sys, vexmira
for entry in vexmira.iter_entries(sys.argv[1]): pass" "$m1"
    report "python list(), 1,000,000" 1000000 "${python[@]}" "import sys, vexmira; vexmira.list(sys.argv[1])" "$m1"
else
    echo "python module rows skipped: $build/python has no vexmira module (build vexmira_python)"
fi
