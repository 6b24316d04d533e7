#!/usr/bin/env bash
# `pip install .` the way a notebook's venv gets the module: from a copy of
# the checkout as a fresh clone has it (its tracked and new files, no build
# tree), so the backend's own Release build runs as a user's does; then the
# pytest suite against that install from outside the source tree; then a
# wheel from `python3 -m build`, installed into a second venv (that backend
# builds in BUILD_DIR, already built). Nothing is fetched (no index, no
# build isolation).
#
# Usage: check-install.sh SOURCE_DIR BUILD_DIR   (VEXMIRA, VEXMIRA_SCHEMA set)
set -euo pipefail
source_dir=$1
build_dir=$(realpath "$2")
scratch=$build_dir/python-install
rm -rf "$scratch"
mkdir -p "$scratch/outside"
export PIP_NO_INDEX=1 PIP_DISABLE_PIP_VERSION_CHECK=1
unset PYTHONPATH VEXMIRA_CMAKE_BUILD_DIR

clone=$scratch/clone
mkdir -p "$clone"
git -C "$source_dir" ls-files -z --cached --others --exclude-standard |
    (cd "$source_dir" && xargs -0 cp --parents -t "$clone" 2> /dev/null || true)
[[ -f $clone/setup.py && ! -e $clone/build ]]
/usr/bin/python3 -m venv --system-site-packages "$scratch/venv"
"$scratch/venv/bin/pip" install -q --no-build-isolation --no-deps "$clone" > "$scratch/pip.log" 2>&1 ||
    { tail -n 40 "$scratch/pip.log"; exit 1; }
export VEXMIRA_CMAKE_BUILD_DIR=$build_dir
cd "$scratch/outside"
VEXMIRA_INSTALLED_PREFIX=$scratch/venv VEXMIRA_DASK=$scratch/venv/bin/vexmira-dask \
    "$scratch/venv/bin/python" -m pytest -q -p no:cacheprovider --rootdir "$scratch/outside" "$source_dir/python/tests"

"$scratch/venv/bin/python" -m build --wheel --no-isolation --outdir "$scratch/dist" "$source_dir" > "$scratch/build.log"
/usr/bin/python3 -m venv --system-site-packages "$scratch/wheel-venv"
"$scratch/wheel-venv/bin/pip" install -q --no-deps "$scratch"/dist/vexmira-*.whl
"$scratch/wheel-venv/bin/python" - "$VEXMIRA" "$scratch/wheel-venv" <<'PY'
import os, subprocess, sys, vexmira
assert vexmira.__file__.startswith(sys.argv[2]), vexmira.__file__
assert subprocess.run([sys.argv[1], "--version"], capture_output=True, text=True).stdout.split()[1] == vexmira.__version__
for name in ["py.typed", "__init__.pyi"]:
    assert os.path.exists(os.path.join(os.path.dirname(vexmira.__file__), name)), name
PY
help=$("$scratch/wheel-venv/bin/vexmira-dask" --help)
[[ $(grep -c '^usage:' <<< "$help") -eq 1 ]]
echo "installed with pip and from the wheel: both work"
