#!/usr/bin/env bash
# Times runs over collections of carriers, in the page cache: 3,000 small
# carriers (about 25 KiB: noise, then an archive of 100 entries) with
# `--jobs 1` against `--jobs 2`, and a corpus of 131 files (130 of those and
# one 145 KiB carrier) with the default job count against `--jobs 1`. With
# BASELINE=path/to/another/vexmira, that binary runs beside this one in the
# same run, alternating, so both see the same machine. Then `file` and
# `binwalk` given a one-line signature of the archive: `file` looks only at
# the first bytes of each file, so it never finds an archive that sits past
# its stub (it is the floor of merely opening and reading every file);
# binwalk scans every offset, as vexmira does.
#
# Prints the median wall and CPU (user + system) seconds of RUNS runs
# (default 7) and the speed-ups.
#
# Usage: scripts/bench-collection.sh [BUILD_DIR]   (default build/native)
#        COUNT=3000 RUNS=7 BASELINE=/path/to/vexmira
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build/native}
vexmira=$build/cli/vexmira
sample=$build/tests/cli/vexmira_sample
dir=${BENCH_DIR:-build/bench}/collection
count=${COUNT:-3000}
runs=${RUNS:-7}
baseline=${BASELINE:-}

for program in "$vexmira" "$sample" ${baseline:+"$baseline"}; do
    [[ -x $program ]] || { echo "missing $program: build the native preset first (make native)" >&2; exit 1; }
done

mkdir -p "$dir"
if [[ ! -d $dir/small || $(find "$dir/small" -type f | wc -l) -ne $count ]]; then
    echo "writing $count small carriers to $dir/small ..."
    rm -rf "$dir/small" "$dir/corpus" && mkdir -p "$dir/small" "$dir/corpus"
    "$sample" noise "$dir/noise.bin" 21000
    "$sample" many "$dir/many.arc" 100
    cat "$dir/noise.bin" "$dir/many.arc" > "$dir/small.exe"
    "$sample" carrier "$dir/carrier.exe"
    for ((i = 0; i < count; i++)); do cp "$dir/small.exe" "$dir/small/setup$i.exe"; done
    for ((i = 0; i < 130; i++)); do cp "$dir/small.exe" "$dir/corpus/setup$i.exe"; done
    cp "$dir/carrier.exe" "$dir/corpus/carrier.exe"
fi
printf '0\tstring\tSPIS\\x1a\tarchive with an embedded directory\n' > "$dir/archive.magic"
printf '0\tstring\tSPIS\\x1a\tarchive with an embedded directory\n' > "$dir/archive.binwalk"
cat "$dir"/small/* "$dir"/corpus/* > /dev/null  # into the page cache

median() { sort -n | sed -n "$(((runs + 1) / 2))p"; }
# One run of the command, output to /dev/null: "wall cpu" in seconds.
once() {
    local TIMEFORMAT='%R %U %S'
    { time "$@" > /dev/null 2>&1; } 2>&1 | awk '{ printf "%.3f %.3f\n", $1, $2 + $3 }'
}

# Label and command per row; rows run alternately, RUNS rounds, so that a
# slow moment of the machine falls on every row alike.
labels=() commands=()
row() { labels+=("$1"); shift; commands+=("$*"); }
for program in "$vexmira" ${baseline:+"$baseline"}; do
    tag=$([[ $program == "$vexmira" ]] && echo this || echo baseline)
    row "$tag: $count small, --jobs 1" "$program" --in-place --json --quiet --jobs 1 -r "$dir/small"
    row "$tag: $count small, --jobs 2" "$program" --in-place --json --quiet --jobs 2 -r "$dir/small"
    row "$tag: 131 files, --jobs 1" "$program" --in-place --json --quiet --jobs 1 -r "$dir/corpus"
    row "$tag: 131 files, default jobs" "$program" --in-place --json --quiet -r "$dir/corpus"
done
results=$(mktemp) && trap 'rm -f "$results"' EXIT
for ((r = 0; r < runs; r++)); do
    for i in "${!commands[@]}"; do
        # shellcheck disable=SC2086  # the command's words, none with spaces
        echo "$i $(once ${commands[$i]})" >> "$results"
    done
done

wall() { awk -v i="$1" '$1 == i { print $2 }' "$results" | median; }
cpu() { awk -v i="$1" '$1 == i { print $3 }' "$results" | median; }
echo "$count carriers of $(stat -c %s "$dir/small.exe") bytes; $(nproc) processors; median of $runs runs"
printf '%-40s %8s %8s\n' "" "wall s" "cpu s"
for i in "${!commands[@]}"; do printf '%-40s %8.3f %8.3f\n' "${labels[$i]}" "$(wall "$i")" "$(cpu "$i")"; done
for base in 0 4; do
    [[ $base -lt ${#commands[@]} ]] || continue
    tag=${labels[$base]%%:*}
    awk -v a="$(wall $base)" -v b="$(wall $((base + 1)))" -v c="$(wall $((base + 2)))" -v d="$(wall $((base + 3)))" \
        -v tag="$tag" 'BEGIN {
            printf "%-40s %8.2f x\n", tag ": speed-up of --jobs 2", (b > 0 ? a / b : 0)
            printf "%-40s %8.2f x\n", tag ": default against --jobs 1", (d > 0 ? c / d : 0) }'
done
if command -v file > /dev/null; then
    t=$(for ((i = 0; i < runs; i++)); do (cd "$dir" && once sh -c "file -m archive.magic small/*"); done | awk '{ print $1 }' | median)
    printf '%-40s %8.3f\n' "file -m (first bytes only)" "$t"
fi
if command -v binwalk > /dev/null; then
    t=$(for ((i = 0; i < runs; i++)); do (cd "$dir" && once sh -c 'binwalk --run-as=root -q -m archive.binwalk small/*'); done | awk '{ print $1 }' | median)
    printf '%-40s %8.3f\n' "binwalk -m" "$t"
fi
