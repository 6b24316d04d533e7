#!/usr/bin/env bash
# Runs every fuzz target of the fuzz preset for SECONDS each, one after the
# other, and prints per target the inputs run, runs per second of wall time
# and per second of CPU time (the fair figure on a shared machine), the
# corpus size and what was found. A target is any vexmira_fuzz_* program that
# holds LLVMFuzzerTestOneInput; the others are seed makers, each run once
# into WORK/seeds/ITS_NAME. A target's seeds are WORK/seeds/*/TARGET when a
# maker wrote such a folder (the differential makers do), else every maker's
# flat output. Corpora grow in WORK/corpus/TARGET from run to run; a crash
# leaves its input in WORK/found/ and the script exits 1.
#
# This is a benchmark, not a test: nothing here asserts a rate.
#
# Usage: scripts/fuzz-all.sh SECONDS [TARGET...]   (default: every target)
# Environment: BUILD (default build/fuzz), WORK (default BUILD/fuzz-all),
# FUZZ_FLAGS (more libFuzzer flags, e.g. "-max_len=8192").
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:?usage: scripts/fuzz-all.sh SECONDS [TARGET...]}
shift
[[ $seconds =~ ^[1-9][0-9]*$ ]] || { echo "SECONDS must be a whole number above 0, not $seconds" >&2; exit 64; }
build=${BUILD:-build/fuzz}
work=${WORK:-$build/fuzz-all}

if [[ $build == build/fuzz ]]; then
    cmake --preset fuzz > /dev/null
    cmake --build --preset fuzz >&2
fi
[[ -d $build/fuzz ]] || { echo "no fuzz targets in $build/fuzz: build the fuzz preset first" >&2; exit 1; }

targets=()
makers=()
for program in "$build"/fuzz/vexmira_fuzz_*; do
    [[ -f $program && -x $program ]] || continue
    if grep -q -a -F LLVMFuzzerTestOneInput "$program"; then
        targets+=("$program")
    else
        makers+=("$program")
    fi
done
if (($# > 0)); then
    wanted=()
    for name in "$@"; do
        program=$build/fuzz/vexmira_fuzz_${name#vexmira_fuzz_}
        [[ " ${targets[*]} " == *" $program "* ]] || { echo "no fuzz target $name in $build/fuzz" >&2; exit 64; }
        wanted+=("$program")
    done
    targets=("${wanted[@]}")
fi
((${#targets[@]} > 0)) || { echo "no fuzz targets in $build/fuzz" >&2; exit 1; }

mkdir -p "$work/seeds" "$work/corpus" "$work/found" "$work/logs"
flat_seeds=()
for maker in "${makers[@]}"; do
    out=$work/seeds/$(basename "$maker")
    rm -rf "$out"
    "$maker" "$out" > /dev/null
    # A maker that writes files, not a folder per target, seeds every target.
    if find "$out" -maxdepth 1 -type f | grep -q .; then flat_seeds+=("$out"); fi
done

printf '%-28s %10s %8s %11s %11s %8s  %s\n' target runs seconds 'runs/s' 'runs/cpu-s' corpus found
status=0
for program in "${targets[@]}"; do
    name=${program##*/vexmira_fuzz_}
    seeds=()
    for dir in "$work"/seeds/*/"$name"; do
        [[ -d $dir ]] && seeds+=("$dir")
    done
    ((${#seeds[@]} > 0)) || seeds=("${flat_seeds[@]}")
    corpus=$work/corpus/$name
    mkdir -p "$corpus"
    log=$work/logs/$name.log
    rc=0
    TIMEFORMAT='%U %S'
    # shellcheck disable=SC2086
    { time "$program" -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$work/found/$name-" \
        ${FUZZ_FLAGS:-} "$corpus" "${seeds[@]}" > "$log" 2>&1; } 2> "$log.time" || rc=$?
    cpu_seconds=$(awk '{ print $1 + $2 }' "$log.time")
    runs=$(awk '/stat::number_of_executed_units/ { print $2 }' "$log")
    wall=$(awk '/stat::average_exec_per_sec/ { print $2 }' "$log")
    found=none
    if [[ $rc != 0 ]]; then
        # What libFuzzer said of it: the sanitizer's or its own first word, and the input it kept.
        reason=$(grep -m 1 -o -E 'ERROR: libFuzzer: [a-z -]+|ERROR: (AddressSanitizer|LeakSanitizer): [^ ]+|runtime error: .*' "$log" || true)
        unit=$(awk '/Test unit written to/ { print $NF }' "$log" | tail -n 1)
        found="${reason:-exit $rc} ${unit:-(see $log)}"
        status=1
    fi
    size=$(find "$corpus" -type f | wc -l)
    per_cpu=$(awk -v r="${runs:-0}" -v c="$cpu_seconds" 'BEGIN { if (c > 0) printf "%.0f", r / c; else print "-" }')
    printf '%-28s %10s %8s %11s %11s %8s  %s\n' "vexmira_fuzz_$name" "${runs:-?}" "$seconds" "${wall:-?}" "$per_cpu" \
        "$size" "$found"
done
exit "$status"
