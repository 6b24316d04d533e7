#!/usr/bin/env bash
# Checks the Debian package that `make package` wrote: unpacked into a scratch
# root it holds the tool, the manual page, the completion and the data files,
# and each of them works; lintian finds no error.
#
# Usage: scripts/check-package.sh [DEB]   (default build/package/vexmira_*.deb)
set -uo pipefail
cd "$(dirname "$0")/.."

deb=${1:-$(ls build/package/vexmira_*.deb 2>/dev/null | head -n 1)}
[[ -f $deb ]] || { echo "no package: run make package first" >&2; exit 1; }
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg -x "$deb" "$root"

source scripts/check-lib.sh

tool=$root/usr/bin/vexmira
sample=$root/sample.exe
build/native/tests/cli/vexmira_sample carrier "$sample"

version=$(sed -n 's/^project(Vexmira VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
check "the tool runs and says its version" bash -c "[[ \$('$tool' --version) == 'vexmira $version' ]]"
check "the tool lists a carrier" bash -c "'$tool' --in-place '$sample' | grep -q 'README.TXT'"
check "the binary is stripped" bash -c "! file -L '$tool' | grep -q 'not stripped'"

# Every option --help names is in the manual page, and the page has the
# sections --help cannot give.
options() { grep -oE -- '(^|[ ,])--?[a-z0-9][a-z0-9-]*' | sed 's/^[ ,]*//' | sort -u; }
help_options=$("$tool" --help | options)
man_text=$(zcat "$root/usr/share/man/man1/vexmira.1.gz" | sed 's/\\-/-/g; s/\\f[BIRP]//g')
missing=()
while read -r option; do grep -qF -- "$option" <<< "$man_text" || missing+=("$option"); done <<< "$help_options"
check "the manual page lists every option of --help (missing: ${missing[*]:-none})" test "${#missing[@]}" -eq 0
for section in 'EXIT STATUS' 'JSON OUTPUT' 'EXAMPLES'; do
    check "the manual page has $section" grep -q "^.SH \"\?$section" <(zcat "$root/usr/share/man/man1/vexmira.1.gz")
done
check "the manual page is gzip -n (no name, no time)" bash -c \
    "[[ \$(od -An -tx1 -j4 -N4 '$root/usr/share/man/man1/vexmira.1.gz' | tr -d ' ') == 00000000 ]]"

check "vexmira-dask has a manual page" bash -c "zcat '$root/usr/share/man/man1/vexmira-dask.1.gz' | grep -q '^.SH DESCRIPTION'"

completion=$root/usr/share/bash-completion/completions/vexmira
check "the completion loads and completes options" bash -c "
    source /usr/share/bash-completion/bash_completion 2> /dev/null
    source '$completion'
    complete -p vexmira | grep -q _vexmira
    COMP_WORDS=(vexmira --side); COMP_CWORD=1; COMP_LINE='vexmira --side'; COMP_POINT=\${#COMP_LINE}
    _vexmira vexmira --side vexmira
    [[ \${COMPREPLY[*]} == --side-file ]]"
check "the completion knows every long option of --help" bash -c \
    "for o in \$(printf '%s\n' \"$help_options\" | grep '^--'); do grep -qF -- \"\$o\" '$completion' || { echo \"missing \$o\"; exit 1; }; done"

check "the Python module imports and lists" env PYTHONPATH="$root/usr/lib/python3/dist-packages" /usr/bin/python3 -c \
    "import sys, vexmira; assert vexmira.list(sys.argv[1])['entries'][0]['name'] == 'README.TXT'" "$sample"
check "vexmira-dask answers --help" env PYTHONPATH="$root/usr/lib/python3/dist-packages" /usr/bin/python3 \
    "$root/usr/bin/vexmira-dask" --help
check "vexmira.dask builds its dataframe of entries" env PYTHONPATH="$root/usr/lib/python3/dist-packages" \
    /usr/bin/python3 -c "import sys, vexmira.dask; assert vexmira.dask.entries_frame(sys.argv[1:]).compute()['name'][0] == 'README.TXT'" "$sample"
for data in vexmira.magic vexmira.yar binwalk/tcompress.sig binwalk/vexmira.py; do
    check "the data file $data is installed" test -s "$root/usr/share/vexmira/$data"
done
check "the schema is installed and is JSON" /usr/bin/python3 -c \
    "import json, sys; json.load(open(sys.argv[1]))" "$root/usr/share/vexmira/vexmira.schema.json"
check "the copyright file and the changelog are there" test -f "$root/usr/share/doc/vexmira/copyright" -a \
    -f "$root/usr/share/doc/vexmira/changelog.gz"
check "lintian finds no error" bash -c "lintian --fail-on error '$deb' 2>&1 | grep -v 'root privileges' | { ! grep '^E:'; }"

finish package
