#!/usr/bin/env bash
# Times a collection of small carriers listed in place: one `vexmira --jobs 2`
# call beside `vexmira-dask` on a local cluster of two workers it starts itself
# (its start-up in the figure) and on a running scheduler with two dask-worker
# processes (the hand-over of batches alone), in one run, files in the page
# cache. Prints the median of RUNS runs (default 3).
#
# Usage: scripts/bench-dask.sh [BUILD_DIR]   (default build/native; COUNT=20000 carriers)
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build/native}
vexmira=$build/cli/vexmira
sample=$build/tests/cli/vexmira_sample
dir=${BENCH_DIR:-build/bench}/dask
count=${COUNT:-20000}
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
cat "$dir"/files/* > /dev/null

median() { sort -n | sed -n "$(((runs + 1) / 2))p"; }
timed() { for ((i = 0; i < runs; i++)); do /usr/bin/time -f "%e" "$@" 2>&1 > /dev/null | tail -n 1; done | median; }

echo "$count carriers, median of $runs runs"
printf '%-48s %7.2f s\n' "vexmira --jobs 2 --in-place --json -r" \
    "$(timed "$vexmira" --jobs 2 --in-place --json --quiet -r "$dir/files")"
printf '%-48s %7.2f s\n' "vexmira-dask, local cluster of 2 workers" \
    "$(PYTHONPATH=$build/python timed /usr/bin/python3 python/vexmira-dask --batch-size 500 "$dir/files")"

# A cluster already running: a scheduler and two single-threaded workers on 127.0.0.1.
export PYTHONPATH=$build/python
rm -f "$dir/scheduler.json"
dask-scheduler --host 127.0.0.1 --port 0 --no-dashboard --scheduler-file "$dir/scheduler.json" > /dev/null 2>&1 &
pids=($!)
trap 'kill "${pids[@]}" 2> /dev/null; wait' EXIT
for ((i = 0; i < 50; i++)); do [[ -s $dir/scheduler.json ]] && break; sleep 0.2; done
address=$(/usr/bin/python3 -c 'import json, sys; print(json.load(open(sys.argv[1]))["address"])' "$dir/scheduler.json")
for _ in 1 2; do
    dask-worker "$address" --host 127.0.0.1 --nthreads 1 --no-dashboard > /dev/null 2>&1 &
    pids+=($!)
done
/usr/bin/python3 -c 'import sys; from distributed import Client; Client(sys.argv[1]).wait_for_workers(2, timeout=60)' "$address"
printf '%-48s %7.2f s\n' "vexmira-dask, running scheduler + 2 workers" \
    "$(timed /usr/bin/python3 python/vexmira-dask --scheduler "$address" --batch-size 500 "$dir/files")"
