#!/usr/bin/env bash
# The setup check must fail, naming the package and the file, when a package
# the build really uses is taken out of setup.sh's list, and pass on the list
# as it is.
set -euo pipefail
root=$1 build=$2
check=$root/scripts/check-setup.sh
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

"$check" "$build" > "$scratch/out" 2>&1 || { cat "$scratch/out"; echo "FAIL: the list as it is fails"; exit 1; }

failures=0
expect_named() {  # LIST-FILE WHAT PACKAGE...
    local list=$1 what=$2 package
    shift 2
    if VEXMIRA_SETUP_LIST=$list "$check" "$build" > "$scratch/out" 2>&1; then
        echo "FAIL: $what: the check passes:"; cat "$scratch/out"; failures=$((failures + 1)); return
    fi
    for package in "$@"; do
        if grep -q "package $package[^ ]* (for /" "$scratch/out"; then
            echo "ok: $what: $(grep -m1 "package $package" "$scratch/out")"
        else
            echo "FAIL: $what: $package is not named:"; cat "$scratch/out"; failures=$((failures + 1))
        fi
    done
}

# pybind11-dev is found by CMake (its folder) and pulled in by no other
# listed package: taking it out alone must fail.
sed -E "s/(^|[( ])pybind11-dev( |\$)/\1\2/" "$root/scripts/setup.sh" > "$scratch/setup.sh"
grep -qE "(^|[( ])pybind11-dev( |\$)" "$scratch/setup.sh" && { echo "FAIL: could not take pybind11-dev out"; exit 1; }
expect_named "$scratch/setup.sh" "without pybind11-dev" pybind11-dev

# A list of cmake alone misses one of each kind: a CMake package folder, a
# Python module the tests import, a program the demo runs.
printf 'packages=(\n  cmake\n)\nbare_packages=()\n' > "$scratch/cmake-only.sh"
expect_named "$scratch/cmake-only.sh" "cmake alone" pybind11-dev python3-jsonschema imagemagick
exit $failures
