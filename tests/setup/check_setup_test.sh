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

# pybind11-dev: found by CMake (its folder); python3-jsonschema: imported by
# the schema test; imagemagick: its convert is run by the demo and the tests.
# None is pulled in by another listed package.
failures=0
for package in pybind11-dev python3-jsonschema imagemagick; do
    sed -E "s/(^|[( ])$package( |\$)/\1\2/" "$root/scripts/setup.sh" > "$scratch/setup.sh"
    if grep -qE "(^|[( ])$package( |\$)" "$scratch/setup.sh"; then
        echo "FAIL: could not take $package out of the list"; failures=$((failures + 1)); continue
    fi
    if VEXMIRA_SETUP_LIST=$scratch/setup.sh "$check" "$build" > "$scratch/out" 2>&1; then
        echo "FAIL: without $package the check passes:"; cat "$scratch/out"; failures=$((failures + 1))
    elif ! grep -q "package $package[^ ]* (for /" "$scratch/out"; then
        echo "FAIL: without $package the check does not name it:"; cat "$scratch/out"; failures=$((failures + 1))
    else
        echo "ok: without $package: $(grep "package $package" "$scratch/out")"
    fi
done
exit $failures
