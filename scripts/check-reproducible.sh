#!/usr/bin/env bash
# Shows that the release files do not depend on where or when they are built:
# a second build in another folder, without the compiler cache, gives the
# same bytes.
#
#   scripts/check-reproducible.sh         the Windows zips: the tree's files are
#                                         copied to build/reproducible/vexmira,
#                                         the two Windows programs built there and
#                                         zipped, and the zips compared with
#                                         dist/'s (run by `make test`, after
#                                         `make dist`; the copy's build trees are
#                                         kept, so a later run rebuilds only what changed)
#   scripts/check-reproducible.sh --all   everything: two clean clones of HEAD in
#                                         different folders, `make dist` in each,
#                                         every file of the two dist/ compared
#                                         (long: every preset that dist needs, twice)
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
version=$(sed -n 's/^project(Vexmira VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)}
# A cache hit made in another folder would hide an object that depends on its folder.
export CCACHE_DISABLE=1
unset CMAKE_C_COMPILER_LAUNCHER CMAKE_CXX_COMPILER_LAUNCHER

passed=0
failed=0
compare() {  # compare FIRST SECOND: the same bytes, or say how they differ
    local name
    name=$(basename "$1")
    if cmp -s "$1" "$2"; then
        passed=$((passed + 1))
        echo "same: $name"
    else
        failed=$((failed + 1))
        echo "FAILED: $name differs between $(dirname "$1") and $(dirname "$2")"
        cmp "$1" "$2" | head -n 1 | sed 's/^/    /'
    fi
}

if [[ ${1:-} == --all ]]; then
    # Two clones whose folders differ in name and in depth.
    scratch=$(mktemp -d "${TMPDIR:-/tmp}/vexmira-reproducible.XXXXXX")
    trap 'rm -rf "$scratch"' EXIT
    clones=("$scratch/first/vexmira" "$scratch/second/deeper/vexmira-$version")
    commit=$(git rev-parse HEAD)  # once: both clones build this commit, whatever is committed meanwhile
    echo "commit $commit"
    for clone in "${clones[@]}"; do
        git clone -q --no-hardlinks "$root" "$clone" || exit 1
        git -C "$clone" checkout -q --detach "$commit" || exit 1
        echo "building $clone"
        start=$SECONDS
        make -C "$clone" dist > "$clone.log" 2>&1 || { tail -n 40 "$clone.log"; echo "make dist failed in $clone" >&2; exit 1; }
        echo "built in $((SECONDS - start)) s"
    done
    # Every release file, and so SHA256SUMS over them.
    for file in "${clones[0]}"/dist/*; do
        compare "$file" "${clones[1]}/dist/$(basename "$file")"
    done
else
    [[ -f dist/vexmira-$version-windows-x86.zip ]] || { echo "check-reproducible: no Windows zips in dist/: run make dist" >&2; exit 1; }
    # The time dist/ was made with (a commit since then moves the last commit's).
    SOURCE_DATE_EPOCH=$(/usr/bin/python3 -c 'import calendar, sys, zipfile
print(calendar.timegm(zipfile.ZipFile(sys.argv[1]).infolist()[0].date_time + (0, 0, 0)))' "dist/vexmira-$version-windows-x86.zip")
    copy=$root/build/reproducible/vexmira
    mkdir -p "$copy"
    # The tree's files as they are now (what dist/ was built from), copied
    # only where they changed so that the copy's builds stay incremental.
    while IFS= read -r -d '' file; do
        [[ -f $file ]] || continue
        if ! cmp -s "$file" "$copy/$file"; then
            mkdir -p "$copy/$(dirname "$file")"
            cp -p "$file" "$copy/$file"
        fi
    done < <(git ls-files -z --cached --others --exclude-standard)
    (
        cd "$copy" || exit 1
        for preset in win32 win64; do
            cmake --preset "$preset" > /dev/null || exit 1
        done
        cmake --build --preset win32 --target Vexmira vexmira -j "${JOBS:-2}" > /dev/null || exit 1
        cmake --build --preset win64 --target vexmira -j "${JOBS:-2}" > /dev/null || exit 1
        DIST=build/reproducible-dist scripts/dist.sh "$version" windows > /dev/null
    ) || { echo "check-reproducible: the second build in $copy failed" >&2; exit 1; }
    for arch in x86 x64; do
        compare "dist/vexmira-$version-windows-$arch.zip" "$copy/build/reproducible-dist/vexmira-$version-windows-$arch.zip"
    done
fi
echo "reproducible: $passed passed, $failed failed"
[[ $failed -eq 0 ]]
