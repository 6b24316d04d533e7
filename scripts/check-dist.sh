#!/usr/bin/env bash
# Checks the release files `make dist` wrote to dist/, each unpacked in a
# scratch folder: the sums, the Windows zips' members, the 32-bit DLL's and
# programs' exports and imports read statically (they cannot run here), the
# 64-bit vexmira.exe run under Wine on the sample, the wheel installed into a
# fresh venv, the .deb unpacked into a scratch root, the sdist, the page and
# the source tarball; every one of them says the CMake project's version.
#
# Usage: scripts/check-dist.sh [DIST]   (default dist/; needs build/native and build/win64)
set -uo pipefail
cd "$(dirname "$0")/.."
dist=$(realpath "${1:-dist}")
version=$(sed -n 's/^project(Vexmira VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[[ -f $dist/SHA256SUMS ]] || { echo "check-dist: no $dist/SHA256SUMS: run make dist" >&2; exit 1; }
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
build/native/tests/cli/vexmira_sample carrier "$scratch/sample.exe" ||
    { echo "check-dist: build/native/tests/cli/vexmira_sample cannot write the sample" >&2; exit 1; }

source scripts/check-lib.sh
members() { /usr/bin/python3 -c 'import sys, zipfile; print("\n".join(sorted(zipfile.ZipFile(sys.argv[1]).namelist())))' "$1"; }
same() { [[ $1 == "$2" ]] || { printf 'got:\n%s\nexpected:\n%s\n' "$1" "$2"; return 1; }; }

x86=vexmira-$version-windows-x86
x64=vexmira-$version-windows-x64
deb=vexmira_${version}_amd64.deb
wheel=$(cd "$dist" && ls vexmira-"$version"-*.whl 2>/dev/null | head -n 1)
expected_files=$(printf '%s\n' SHA256SUMS "$deb" "$x64.zip" "$x86.zip" "vexmira-$version-source.tar.gz" \
    "vexmira-$version-web.zip" "vexmira-$version.tar.gz" "${wheel:-vexmira-$version-WHEEL.whl}" | sort)
check "dist holds the release files and nothing else" same "$(ls "$dist" | sort)" "$expected_files"
check "dist/SHA256SUMS holds every other file's sum" bash -c \
    "cd '$dist' && sha256sum --quiet -c SHA256SUMS && [[ \$(wc -l < SHA256SUMS) -eq \$(( \$(ls | wc -l) - 1 )) ]]"

# --- The Windows zips --------------------------------------------------------
texts="LICENSE README.txt SHA256SUMS vexmira_arc.ksy"
windows_zip() {  # windows_zip NAME MEMBERS...: unpacks it and checks what every zip holds
    local name=$1; shift
    check "$name.zip holds $*" same "$(members "$dist/$name.zip")" "$(printf "$name/%s\n" "$@" | sort)"
    /usr/bin/python3 -m zipfile -e "$dist/$name.zip" "$scratch/" || return
    check "$name: SHA256SUMS holds every other member's sum" bash -c \
        "cd '$scratch/$name' && sha256sum --quiet -c SHA256SUMS && [[ \$(wc -l < SHA256SUMS) -eq $(($# - 1)) ]]"
    check "$name: the texts end lines in CR LF" bash -c \
        "for text in README.txt LICENSE; do ! grep -qv \$'\r\$' '$scratch/$name/'\$text || { echo \"\$text\"; exit 1; }; done"
    check "$name: README.txt names the version and the architecture" \
        grep -q "^Version $version, ${name##*-}"$'\r$' "$scratch/$name/README.txt"
    check "$name: LICENSE is MIT" grep -q '^MIT License' "$scratch/$name/LICENSE"
    check "$name: the Kaitai description is the shipped one" cmp "$scratch/$name/vexmira_arc.ksy" share/vexmira/vexmira_arc.ksy
}
# shellcheck disable=SC2086
windows_zip "$x86" Vexmira.dll vexmira.exe $texts
check "$x86: Vexmira.dll is a PE32 DLL with the three cdecl exports and system imports alone" \
    tests/wine/check_dll.sh "$scratch/$x86/Vexmira.dll" i686-w64-mingw32-objdump pe-i386 dll
check "$x86: vexmira.exe is a PE32 program with system imports alone" \
    tests/wine/check_dll.sh "$scratch/$x86/vexmira.exe" i686-w64-mingw32-objdump pe-i386 exe
check "$x86: the programs carry no symbols" bash -c \
    "! i686-w64-mingw32-objdump -h '$scratch/$x86/Vexmira.dll' '$scratch/$x86/vexmira.exe' | grep -q debug_"
check "$x86: README.txt says where the DLL goes, what the dialog shows and that it writes FILE\$\$\$" bash -c \
    "grep -q 'folder Vestrel loads its' '$scratch/$x86/README.txt' && grep -q 'Contains:' '$scratch/$x86/README.txt' &&
     grep -qF 'FILE\$\$\$' '$scratch/$x86/README.txt'"
# shellcheck disable=SC2086
windows_zip "$x64" vexmira.exe $texts
check "$x64: vexmira.exe is a PE32+ program with system imports alone" \
    tests/wine/check_dll.sh "$scratch/$x64/vexmira.exe" x86_64-w64-mingw32-objdump pe-x86-64 exe
check "$x64: vexmira.exe carries no symbols" bash -c \
    "! x86_64-w64-mingw32-objdump -h '$scratch/$x64/vexmira.exe' | grep -q debug_"
check "the Windows programs carry no link time" bash -c "
    for file in '$scratch/$x86/Vexmira.dll' '$scratch/$x86/vexmira.exe' '$scratch/$x64/vexmira.exe'; do
        x86_64-w64-mingw32-objdump -p \"\$file\" | grep -q '^Time/Date.*1970\$' || { echo \"\$file\"; exit 1; }; done"
check "$x64: README.txt says the plug-in is in the x86 zip" grep -q 'windows-x86 zip' "$scratch/$x64/README.txt"

# The 64-bit tool runs under Wine, in the win64 tests' prefix (made if missing).
prefix=$PWD/build/win64/wineprefix
tests/wine/wine_prefix.sh "$prefix" > /dev/null
cp "$scratch/sample.exe" "$scratch/$x64/"
wine_run() { (cd "$scratch/$x64" && "$OLDPWD/tests/wine/run_wine.sh" "$prefix" ./vexmira.exe "$@" 2>"$scratch/wine.log" | tr -d '\r'); }
check "$x64: vexmira.exe --version under Wine says $version" same "$(wine_run --version)" "vexmira $version"
check "$x64: vexmira.exe lists the sample under Wine" grep -q '"name":"README.TXT"' <<< "$(wine_run --json sample.exe)"

# --- The wheel, in a fresh venv ----------------------------------------------
venv=$scratch/venv
/usr/bin/python3 -m venv "$venv"
check "the wheel installs into a fresh venv without an index" \
    env PIP_NO_INDEX=1 PIP_DISABLE_PIP_VERSION_CHECK=1 "$venv/bin/pip" install -q --no-deps "$dist/$wheel"
check "the installed module says $version and lists the sample" bash -c "cd '$scratch' && '$venv/bin/python' -c '
import sys, vexmira
assert vexmira.__file__.startswith(sys.argv[1]), vexmira.__file__
assert vexmira.__version__ == sys.argv[2], vexmira.__version__
assert vexmira.list(\"sample.exe\")[\"entries\"][0][\"name\"] == \"README.TXT\"
' '$venv' '$version'"
check "the wheel installs vexmira-dask" test -x "$venv/bin/vexmira-dask"

# --- The sdist and the source tarball ----------------------------------------
# The sdist builds the module with the project's CMake build, so it holds what
# that build reads: it configures as setup.py configures it.
sdist_members=$(tar -tzf "$dist/vexmira-$version.tar.gz")
check "the sdist holds the licence and the data files" bash -c "for file in LICENSE share/vexmira/vexmira_arc.ksy; do
    grep -qx \"vexmira-$version/\$file\" <<< '$sdist_members' || { echo \"missing \$file\"; exit 1; }; done"
# The unpacked sdist and source tarball are trees the Python backend takes
# (the module built in the native tree, as dist.sh builds the wheel, so
# nothing is compiled here).
for tarball in "vexmira-$version" "vexmira-$version-source"; do
    mkdir -p "$scratch/$tarball"
    tar -xzf "$dist/$tarball.tar.gz" -C "$scratch/$tarball"
    check "the unpacked $tarball.tar.gz configures the module's CMake build" cmake -S "$scratch/$tarball/vexmira-$version" \
        -B "$scratch/$tarball-cmake" -G Ninja -DVEXMIRA_PYTHON=ON -DVEXMIRA_TESTS=OFF -DPython3_EXECUTABLE=/usr/bin/python3
    check "the unpacked $tarball.tar.gz builds a wheel of version $version" bash -c "
        VEXMIRA_CMAKE_BUILD_DIR='$PWD/build/native' PIP_NO_INDEX=1 /usr/bin/python3 -m build --wheel --no-isolation \
            --outdir '$scratch/$tarball-wheel' '$scratch/$tarball/vexmira-$version' > '$scratch/$tarball.log' 2>&1 ||
            { tail -n 20 '$scratch/$tarball.log'; exit 1; }
        ls '$scratch/$tarball-wheel/vexmira-$version-'*.whl"
done
check "the source tarball holds the tree of the last commit" bash -c \
    "[[ \$(tar -tzf '$dist/vexmira-$version-source.tar.gz' | grep -v '/\$' | sed 's|^vexmira-$version/||' | sort) == \
       \$(git ls-tree -r --name-only HEAD | sort) ]]"

# --- The page ------------------------------------------------------------------
check "the page's zip holds the site as built" same "$(members "$dist/vexmira-$version-web.zip")" \
    "$(cd build/wasm/web && find . -type f | sed "s|^\./|vexmira-$version-web/|" | sort)"
check "the page's zip holds its module" bash -c "grep -qx 'vexmira-$version-web/index.html' <<< '$(members "$dist/vexmira-$version-web.zip")' &&
    grep -qx 'vexmira-$version-web/vexmira.wasm' <<< '$(members "$dist/vexmira-$version-web.zip")'"

# --- The Debian package, in a scratch root -------------------------------------
root=$scratch/root
dpkg -x "$dist/$deb" "$root"
check "the .deb says version $version" same "$(dpkg-deb -f "$dist/$deb" Version)" "$version"
check "the packaged tool says $version and lists the sample" bash -c \
    "[[ \$('$root/usr/bin/vexmira' --version) == 'vexmira $version' ]] && '$root/usr/bin/vexmira' '$scratch/sample.exe' | grep -q README.TXT"
check "the manual page says $version" bash -c "zcat '$root/usr/share/man/man1/vexmira.1.gz' | grep -q '^\.TH.*$version'"
check "the package's changelog opens with $version" bash -c \
    "zcat '$root/usr/share/doc/vexmira/changelog.gz' | head -n 1 | grep -qF '($version)'"
check "CHANGELOG.md has a section for $version" grep -q "^## $version\b" CHANGELOG.md
check "the package ships the Kaitai description" cmp "$root/usr/share/vexmira/vexmira_arc.ksy" share/vexmira/vexmira_arc.ksy

finish dist
