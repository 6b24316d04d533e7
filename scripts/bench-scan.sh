#!/usr/bin/env bash
# Times the whole vexmira process beside dd on the same files, in one run:
#  1. scan: a 1 GiB file of random bytes without a signature, in the page
#     cache, so every block is read and searched (vexmira exits 1, not found);
#     beside `dd if=FILE of=/dev/null bs=1M`;
#  2. copy: a carrier whose archive is followed by 1 GiB, so vexmira writes a
#     1 GiB side file; beside `dd bs=1M` writing the same bytes.
# Each figure is the median of RUNS runs (default 7), runs of the two
# commands taking turns. The big files are deleted at the end (KEEP=1 keeps them).
#
# Usage: scripts/bench-scan.sh [BUILD_DIR]   (default build/native)
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build/native}
vexmira=$build/cli/vexmira
sample=$build/tests/cli/vexmira_sample
dir=${BENCH_DIR:-build/bench}
runs=${RUNS:-7}
size=$((1 << 30))
stub=40000  # where vexmira_sample puts the archive in a carrier

for program in "$vexmira" "$sample"; do
    [[ -x $program ]] || { echo "missing $program: build the native preset first (make native)" >&2; exit 1; }
done

mkdir -p "$dir"
noise=$dir/noise.bin
carrier=$dir/tail.exe
side=$carrier\$\$\$
copy=$dir/tail.dd
cleanup() { [[ ${KEEP:-0} == 1 ]] || rm -f "$noise" "$carrier" "$side" "$copy"; }
trap cleanup EXIT

echo "writing $noise and $carrier ..."
"$sample" noise "$noise" "$size"
"$sample" tail "$carrier" "$size"
cat "$noise" "$carrier" > /dev/null  # into the page cache

status=0
"$vexmira" "$noise" > /dev/null 2>&1 || status=$?
[[ $status == 1 ]] || { echo "vexmira $noise: exit $status, expected 1 (not found)" >&2; exit 1; }

now() { date +%s%N; }
# Runs a command once and prints its wall time in nanoseconds.
timed() {
    local start end
    start=$(now)
    "$@" > /dev/null 2>&1 || true
    end=$(now)
    echo $((end - start))
}
median() { sort -n | awk '{ t[NR] = $1 } END { printf "%.3f", t[int((NR + 1) / 2)] / 1e9 }'; }
rate() { awk -v b="$size" -v s="$1" 'BEGIN { printf "%.2f GB/s", b / s / 1e9 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

dd_times=() vx_times=()
for ((i = 0; i < runs; i++)); do
    dd_times+=("$(timed dd if="$noise" of=/dev/null bs=1M)")
    vx_times+=("$(timed "$vexmira" "$noise")")
done
dd_scan=$(printf '%s\n' "${dd_times[@]}" | median)
vx_scan=$(printf '%s\n' "${vx_times[@]}" | median)

# Each copy starts without its output file and with nothing waiting to be
# written back, so neither pays for the other's pages.
dd_times=() vx_times=()
for ((i = 0; i < runs; i++)); do
    rm -f "$copy" "$side"; sync
    dd_times+=("$(timed dd if="$carrier" of="$copy" bs=1M iflag=skip_bytes skip="$stub")")
    rm -f "$copy" "$side"; sync
    vx_times+=("$(timed "$vexmira" "$carrier")")
done
cmp -s <(tail -c +$((stub + 1)) "$carrier") "$side" || { echo "side file differs from the carrier's tail" >&2; exit 1; }
dd_copy=$(printf '%s\n' "${dd_times[@]}" | median)
vx_copy=$(printf '%s\n' "${vx_times[@]}" | median)

echo
echo "scan of 1 GiB without a signature (median of $runs, page cache):"
echo "  dd if=FILE of=/dev/null bs=1M  $dd_scan s  $(rate "$dd_scan")"
echo "  vexmira FILE                   $vx_scan s  $(rate "$vx_scan")"
echo "  ratio vexmira / dd             $(ratio "$vx_scan" "$dd_scan")"
echo "side-file copy of a 1 GiB tail (median of $runs):"
echo "  dd bs=1M, same bytes           $dd_copy s  $(rate "$dd_copy")"
echo "  vexmira FILE (writes FILE\$\$\$)  $vx_copy s  $(rate "$vx_copy")"
echo "  ratio vexmira / dd             $(ratio "$vx_copy" "$dd_copy")"
