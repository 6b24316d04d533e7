#!/usr/bin/env bash
# Times one run over a collection of small carriers, in the page cache:
# `vexmira --in-place --json` with --jobs 1 and --jobs 2, beside `file` and
# `binwalk` given a one-line signature of the archive. `file` looks only at
# the first bytes of each file, so it never finds an archive that sits past
# its stub (it is the floor of merely opening and reading every file);
# binwalk scans every offset, as vexmira does. Prints the median of RUNS runs
# (default 3) and the speed-up of two jobs over one.
#
# Usage: scripts/bench-collection.sh [BUILD_DIR]   (default build/native; COUNT=10000 carriers)
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build/native}
vexmira=$build/cli/vexmira
sample=$build/tests/cli/vexmira_sample
dir=${BENCH_DIR:-build/bench}/collection
count=${COUNT:-10000}
runs=${RUNS:-3}

for program in "$vexmira" "$sample"; do
    [[ -x $program ]] || { echo "missing $program: build the native preset first (make native)" >&2; exit 1; }
done

mkdir -p "$dir/files"
if [[ $(find "$dir/files" -type f | wc -l) -ne $count ]]; then
    echo "writing $count carriers to $dir/files ..."
    rm -rf "$dir/files" && mkdir -p "$dir/files"
    "$sample" carrier "$dir/one.exe"
    for ((i = 0; i < count; i++)); do cp "$dir/one.exe" "$dir/files/setup$i.exe"; done
fi
printf '0\tstring\tSPIS\\x1a\tarchive with an embedded directory\n' > "$dir/archive.magic"
printf '0\tstring\tSPIS\\x1a\tarchive with an embedded directory\n' > "$dir/archive.binwalk"
cat "$dir"/files/* > /dev/null  # into the page cache

median() { sort -n | sed -n "$(((runs + 1) / 2))p"; }
timed() {  # prints the median wall time of the command, output to /dev/null
    for ((i = 0; i < runs; i++)); do
        /usr/bin/time -f "%e" "$@" 2>&1 > /dev/null | tail -n 1
    done | median
}

echo "$count carriers of $(stat -c %s "$dir/one.exe") bytes, median of $runs runs"
one=$(timed "$vexmira" --in-place --json --quiet --jobs 1 -r "$dir/files")
two=$(timed "$vexmira" --in-place --json --quiet --jobs 2 -r "$dir/files")
printf '%-36s %7.2f s\n' "vexmira --jobs 1" "$one" "vexmira --jobs 2" "$two"
awk -v a="$one" -v b="$two" 'BEGIN { printf "%-36s %7.2f x\n", "speed-up of --jobs 2", (b > 0 ? a / b : 0) }'
if command -v file > /dev/null; then
    printf '%-36s %7.2f s\n' "file -m (first bytes only)" "$(cd "$dir" && timed sh -c "file -m archive.magic files/*")"
fi
if command -v binwalk > /dev/null; then
    printf '%-36s %7.2f s\n' "binwalk -m" "$(cd "$dir" && timed sh -c 'binwalk --run-as=root -q -m archive.binwalk files/*')"
fi
