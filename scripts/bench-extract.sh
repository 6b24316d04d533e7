#!/usr/bin/env bash
# Times --extract and --hash beside the tools that do the same work, in one
# run, on an archive of 1 GiB of stored entries (16 of 64 MiB, random bytes,
# method 0), in the page cache:
#  1. extract: `vexmira --extract` (every entry written as itself, with
#     manifest.jsonl and each file's SHA-256) beside `cp --reflink=never` of
#     the archive (1 GiB, copy_file_range on this system);
#  2. hash: `vexmira --hash --json` (each entry's SHA-256 and entropy, and
#     FILE's SHA-256: both are read) beside `sha256sum` of the archive.
# Also each command's peak memory (GNU time's maximum resident set).
# Each figure is the median of RUNS runs (default 5), the commands taking
# turns; outputs are removed between runs. The archive is deleted at the end
# (KEEP=1 keeps it). This is a benchmark: nothing here asserts a rate.
#
# Usage: scripts/bench-extract.sh [BUILD_DIR]   (default build/native)
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build/native}
vexmira=$build/cli/vexmira
dir=${BENCH_DIR:-build/bench-extract}
runs=${RUNS:-5}
[[ -x $vexmira ]] || { echo "no $vexmira: build the native preset first" >&2; exit 1; }
mkdir -p "$dir"
archive=$dir/stored.ARC

if [[ ! -f $archive ]]; then
    # The layout: "SPIS" 0x1A, identifier, size, type, long, flags; then per
    # entry name length, long, word, full size, stored size, method, long,
    # flags, the name and its stored bytes.
    /usr/bin/python3 - "$archive" <<'PY'
import os, struct, sys
block = os.urandom(1 << 20)
with open(sys.argv[1], "wb") as out:
    out.write(b"SPIS\x1aLZH" + struct.pack("<iBII", 0, 1, 0, 0))
    for i in range(16):
        name = b"ENTRY%02d.BIN" % i
        size = 64 << 20
        out.write(struct.pack("<hIHiiBII", len(name), 0, 0, size, size, 0, 0, 0) + name)
        for _ in range(64):
            out.write(block)
PY
fi
cat "$archive" > /dev/null  # into the page cache

seconds() {  # the wall time of "$@" in seconds; its peak memory in kB goes to $dir/rss
    local start end
    # What the command before left to write back is not this one's time.
    sync
    start=$(date +%s.%N)
    /usr/bin/time -f %M -o "$dir/rss" "$@" > /dev/null
    end=$(date +%s.%N)
    echo "$end - $start" | bc
}
median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

declare -A times rss
for ((run = 0; run < runs; ++run)); do
    rm -rf "$dir/out" "$dir/copy"
    times[extract]+="$(seconds "$vexmira" --quiet --extract "$dir/out" "$archive") "
    rss[extract]=$(cat "$dir/rss")
    times[cp]+="$(seconds cp --reflink=never "$archive" "$dir/copy") "
    rss[cp]=$(cat "$dir/rss")
    times[hash]+="$(seconds "$vexmira" --quiet --hash --json "$archive") "
    rss[hash]=$(cat "$dir/rss")
    times[sha256sum]+="$(seconds sha256sum "$archive") "
    rss[sha256sum]=$(cat "$dir/rss")
done
rm -rf "$dir/out" "$dir/copy"

bytes=$(stat -c %s "$archive")
printf '%-28s %9s %10s %9s\n' "command (1 GiB stored)" "seconds" "MB/s" "peak kB"
for name in extract cp hash sha256sum; do
    t=$(tr ' ' '\n' <<< "${times[$name]}" | grep . | median)
    printf '%-28s %9.3f %10.0f %9s\n' "$name" "$t" "$(echo "$bytes / $t / 1000000" | bc -l)" "${rss[$name]}"
    declare "t_$name=$t"
done
printf 'extract / cp throughput: %.2f\n' "$(echo "$t_cp / $t_extract" | bc -l)"
printf 'hash / sha256sum throughput: %.2f\n' "$(echo "$t_sha256sum / $t_hash" | bc -l)"
[[ ${KEEP:-0} == 1 ]] || rm -f "$archive"
