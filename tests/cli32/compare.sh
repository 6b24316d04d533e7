#!/usr/bin/env bash
# Runs the 32-bit tool and the 64-bit one on the same files, each file under
# every way of listing it, and fails on any difference in what they
# print, their exit status or the side file they write.
#   compare.sh TOOL32 TOOL64 WORKDIR FILE...
# COMPARE_OPTIONS, when set, names the ways of listing, separated by '|'.
set -uo pipefail
tool32=$1 tool64=$2 work=$3
shift 3
if [ ! -x "$tool64" ]; then
  echo "no 64-bit tool at $tool64: build the native preset first"
  exit 77  # skipped
fi

cd "$work" || exit 1
failed=0 runs=0
run() {  # run TOOL OUT FILE ARGS...: stdout, stderr and status into OUT.*
  local tool=$1 out=$2 file=$3
  shift 3
  rm -f "$file\$\$\$"
  "$tool" "$@" "$file" >"$out.stdout" 2>"$out.stderr"
  echo $? >"$out.status"
  if [ -e "$file\$\$\$" ]; then cksum <"$file\$\$\$" >"$out.side"; else echo none >"$out.side"; fi
}
IFS='|' read -r -a option_sets <<<"${COMPARE_OPTIONS-|--json|--in-place|--in-place --all|--in-place --all --json}"
for file in "$@"; do
  for options in "${option_sets[@]}"; do
    # shellcheck disable=SC2086  # the options are words
    run "$tool64" out64 "$file" $options
    # shellcheck disable=SC2086
    run "$tool32" out32 "$file" $options
    runs=$((runs + 1))
    for part in status stdout stderr side; do
      if ! cmp -s "out64.$part" "out32.$part"; then
        echo "DIFFERENT $part: vexmira $options $file"
        diff "out64.$part" "out32.$part" | head -20
        failed=1
      fi
    done
  done
  rm -f "$file\$\$\$"
done
echo "$runs runs compared"
exit $failed
