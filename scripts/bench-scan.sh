#!/usr/bin/env bash
# Times the whole vexmira process beside dd on the same files, in one run:
#  1. scan: a 1 GiB file of random bytes without a signature, in the page
#     cache, so every block is read and searched (vexmira exits 1, not found);
#     beside `dd if=FILE of=/dev/null bs=1M`;
#  2. copy: a carrier whose archive is followed by 1 GiB, so vexmira --side-file
#     writes a 1 GiB side file; beside `dd bs=1M` writing the same bytes.
#  3. dense: 256 MiB (DENSE_BYTES) of random bytes and of each dense filler
#     of vexmira_sample (runs of "SP", "SPI", "SPIS", "SPIS"+0x1A, rejected
#     candidates, 64-byte archives), each beside `dd bs=1M` and
#     `grep -c -F SPIS` of the same file, and `--all --json` over the
#     repeated archives: its time and its output's size.
#  4. all: --all over inputs made to multiply its work and output (findings 1
#     and 2 of issue 26): 10,000 46-byte minimal archives and 46 MiB of them,
#     1 MiB and 64 MiB (ALL_BYTES) of 64-byte archives, 1 MiB and 64 MiB of
#     candidates the reader refuses; in each report (and with --carve), the
#     output's bytes (both streams) and carved bytes against the input, and the
#     time against `cat FILE > /dev/null` of the same file in the same run
#     (the bound: 16 bytes per input byte plus about 1 KiB per listing
#     written; time within 20 times the read, taken as at least 1 s).
# Each figure is the median of RUNS runs (default 7), runs of the commands
# taking turns; the all section runs each command once. The big files are
# deleted at the end (KEEP=1 keeps them).
# SECTIONS picks what runs (default "scan copy dense all").
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
dense_size=${DENSE_BYTES:-$((256 << 20))}
sections=" ${SECTIONS:-scan copy dense all} "
all_size=${ALL_BYTES:-$((64 << 20))}
stub=40000  # where vexmira_sample puts the archive in a carrier

for program in "$vexmira" "$sample"; do
    [[ -x $program ]] || { echo "missing $program: build the native preset first (make native)" >&2; exit 1; }
done

mkdir -p "$dir"
noise=$dir/noise.bin
carrier=$dir/tail.exe
side=$carrier\$\$\$
copy=$dir/tail.dd
fillers=(sp spi spis spis1a rejected archives)
dense_files=("$dir/dense-random.bin")
for name in "${fillers[@]}"; do dense_files+=("$dir/dense-$name.bin"); done
all_dir=$dir/all
cleanup() {
    [[ ${KEEP:-0} == 1 ]] || rm -f "$noise" "$carrier" "$side" "$copy" "${dense_files[@]}"
    [[ ${KEEP:-0} == 1 ]] || rm -rf "$all_dir"
}
trap cleanup EXIT

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

if [[ $sections == *" scan "* || $sections == *" copy "* ]]; then
echo "writing $noise and $carrier ..."
"$sample" noise "$noise" "$size"
"$sample" tail "$carrier" "$size"
cat "$noise" "$carrier" > /dev/null  # into the page cache

status=0
"$vexmira" "$noise" > /dev/null 2>&1 || status=$?
[[ $status == 1 ]] || { echo "vexmira $noise: exit $status, expected 1 (not found)" >&2; exit 1; }

fi

# One row per input: vexmira FILE, dd bs=1M and grep -c of the same file.
dense_row() {
    local file=$1 vx=() dd=() gr=()
    for ((i = 0; i < runs; i++)); do
        dd+=("$(timed dd if="$file" of=/dev/null bs=1M)")
        gr+=("$(timed env LC_ALL=C grep -c -F SPIS "$file")")
        vx+=("$(timed "$vexmira" "$file")")
    done
    printf '%s %s %s\n' "$(printf '%s\n' "${vx[@]}" | median)" "$(printf '%s\n' "${dd[@]}" | median)" \
        "$(printf '%s\n' "${gr[@]}" | median)"
}

if [[ $sections == *" scan "* ]]; then
dd_times=() vx_times=()
for ((i = 0; i < runs; i++)); do
    dd_times+=("$(timed dd if="$noise" of=/dev/null bs=1M)")
    vx_times+=("$(timed "$vexmira" "$noise")")
done
dd_scan=$(printf '%s\n' "${dd_times[@]}" | median)
vx_scan=$(printf '%s\n' "${vx_times[@]}" | median)

echo
echo "scan of 1 GiB without a signature (median of $runs, page cache):"
echo "  dd if=FILE of=/dev/null bs=1M  $dd_scan s  $(rate "$dd_scan")"
echo "  vexmira FILE                   $vx_scan s  $(rate "$vx_scan")"
echo "  ratio vexmira / dd             $(ratio "$vx_scan" "$dd_scan")"
fi
if [[ $sections == *" copy "* ]]; then
# Each copy starts without its output file and with nothing waiting to be
# written back, so neither pays for the other's pages.
dd_times=() vx_times=()
for ((i = 0; i < runs; i++)); do
    rm -f "$copy" "$side"; sync
    dd_times+=("$(timed dd if="$carrier" of="$copy" bs=1M iflag=skip_bytes skip="$stub")")
    rm -f "$copy" "$side"; sync
    vx_times+=("$(timed "$vexmira" --side-file "$carrier")")
done
cmp -s <(tail -c +$((stub + 1)) "$carrier") "$side" || { echo "side file differs from the carrier's tail" >&2; exit 1; }
dd_copy=$(printf '%s\n' "${dd_times[@]}" | median)
vx_copy=$(printf '%s\n' "${vx_times[@]}" | median)

echo "side-file copy of a 1 GiB tail (median of $runs):"
echo "  dd bs=1M, same bytes           $dd_copy s  $(rate "$dd_copy")"
echo "  vexmira --side-file FILE       $vx_copy s  $(rate "$vx_copy")"
echo "  ratio vexmira / dd             $(ratio "$vx_copy" "$dd_copy")"

fi
if [[ $sections == *" dense "* ]]; then
    echo "writing the dense inputs ($dense_size bytes each) ..."
    "$sample" noise "${dense_files[0]}" "$dense_size"
    for name in "${fillers[@]}"; do "$sample" filler "$name" "$dir/dense-$name.bin" "$dense_size"; done
    cat "${dense_files[@]}" > /dev/null
    echo
    echo "dense inputs of $dense_size bytes (median of $runs, page cache; x random = vexmira / vexmira on random):"
    printf '  %-10s %9s %9s %9s %9s %9s\n' input vexmira dd grep-c "x dd" "x random"
    random_time=
    for file in "${dense_files[@]}"; do
        read -r vx dd gr < <(dense_row "$file")
        [[ -n $random_time ]] || random_time=$vx
        name=${file##*/dense-}
        printf '  %-10s %9s %9s %9s %9s %9s\n' "${name%.bin}" "$vx" "$dd" "$gr" "$(ratio "$vx" "$dd")" \
            "$(ratio "$vx" "$random_time")"
        [[ ${name%.bin} != archives ]] || archives_time=$vx
    done
    archives=$dir/dense-archives.bin
    start=$(now)
    status=0
    out_bytes=$( (
        code=0
        timeout "${ALL_LIMIT:-300}" "$vexmira" --all --json "$archives" 2> /dev/null || code=$?
        echo "$code" > "$dir/all.status"
    ) | wc -c)
    status=$(cat "$dir/all.status")
    end=$(now)
    all_time=$(awk -v t=$((end - start)) 'BEGIN { printf "%.3f", t / 1e9 }')
    echo "--all --json over the repeated archives (one run, exit $status):"
    echo "  time $all_time s = $(ratio "$all_time" "$archives_time") x the plain scan of the same file"
    echo "  output $out_bytes bytes = $(ratio "$out_bytes" "$dense_size") x the input"
fi

if [[ $sections == *" all "* ]]; then
    mkdir -p "$all_dir"
    # name filler bytes
    all_inputs=(
        "minimal-460k minimal 460000"
        "minimal-46m minimal 48300000"
        "archives-1m archives 1048576"
        "archives-${all_size} archives $all_size"
        "refused-1m refused 1048576"
        "refused-${all_size} refused $all_size"
    )
    echo
    echo "--all over adversarial inputs (one run each, page cache; x cat = time / max(cat, 1 s)):"
    printf '  %-18s %-12s %12s %9s %10s %8s %8s %8s\n' input report output "x input" carved time cat "x cat"
    for input in "${all_inputs[@]}"; do
        read -r name filler bytes <<< "$input"
        file=$all_dir/$name.bin
        "$sample" filler "$filler" "$file" "$bytes"
        cat "$file" > /dev/null
        start=$(now); cat "$file" > /dev/null; end=$(now)
        cat_time=$(awk -v t=$((end - start)) 'BEGIN { printf "%.3f", t / 1e9 }')
        reports=("--json" "plain" "--csv" "--summary")
        # Carving writes a file per candidate it does not find inside an
        # earlier carve: only where those stay few enough to time.
        [[ $name == minimal-46m || $name == refused-* ]] || reports+=("--json --carve")
        for report in "${reports[@]}"; do
            args=()
            [[ $report == plain ]] || read -r -a args <<< "$report"
            out=$all_dir/out
            rm -rf "$out"
            [[ $report != *--carve* ]] || args+=(--output-dir "$out")
            start=$(now)
            out_bytes=$( ("$vexmira" --all "${args[@]}" "$file" 2>&1 || true) | wc -c)
            end=$(now)
            time=$(awk -v t=$((end - start)) 'BEGIN { printf "%.3f", t / 1e9 }')
            carved=-
            [[ $report != *--carve* ]] || carved=$(find "$out" -type f -printf '%s\n' | awk '{ s += $1 } END { print s + 0 }')
            printf '  %-18s %-12s %12s %9s %10s %8s %8s %8s\n' "$name" "$report" "$out_bytes" \
                "$(ratio "$out_bytes" "$bytes")" "$carved" "$time" "$cat_time" \
                "$(awk -v a="$time" -v b="$cat_time" 'BEGIN { printf "%.2f", a / (b > 1 ? b : 1) }')"
        done
        rm -f "$file"
    done
    rm -rf "$all_dir/out"
fi
