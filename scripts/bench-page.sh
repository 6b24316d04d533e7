#!/usr/bin/env bash
# The page's locate and list-every-candidate times in headless chromium beside
# the tool's on FILE, in one run (median of RUNS runs, default 3); the last
# line holds both ratios (goals: locate within 3x, every candidate within 4x).
# A big carrier to try: build/native/tests/cli/vexmira_sample sparse big.exe
# 3221225472 2684354560. QUERY=?module=portable times the portable module.
#
# Usage: scripts/bench-page.sh FILE [SITE] [VEXMIRA]   (default build/wasm/web, build/native/cli/vexmira)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
[[ $# -ge 1 ]] || { echo "usage: scripts/bench-page.sh FILE [SITE] [VEXMIRA]" >&2; exit 64; }
file=$1
site=${2:-$root/build/wasm/web}
vexmira=${3:-$root/build/native/cli/vexmira}
[[ -f $file ]] || { echo "no file $file" >&2; exit 1; }
[[ -x $vexmira ]] || { echo "missing $vexmira: build the native preset first (make native)" >&2; exit 1; }
[[ -f $site/vexmira-simd.wasm ]] || { echo "missing $site: build the page first (make wasm)" >&2; exit 1; }
exec node "$root/tests/web/bench_page.mjs" "$site" "$vexmira" "$file" "${QUERY:-}"
