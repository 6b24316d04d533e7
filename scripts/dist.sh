#!/usr/bin/env bash
# Writes the release files to dist/ from the built trees (`make dist` builds
# them first): the Windows zips, the Debian package, the Python wheel and
# sdist, the page, the source tarball, and SHA256SUMS over all of them.
# Every archive lists its members sorted, with the last commit's time
# (SOURCE_DATE_EPOCH), so two builds of one commit give the same bytes.
#
# Usage: scripts/dist.sh VERSION [windows]   (run from the top of the tree)
# With "windows", only the Windows zips and their SHA256SUMS (for
# scripts/check-reproducible.sh). DIST names another folder than dist/.
set -euo pipefail
cd "$(dirname "$0")/.."
version=${1:?usage: dist.sh VERSION [windows]}
windows_only=${2:-}
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)}
export LC_ALL=C
build=build
dist=${DIST:-dist}

needed=("$build/win32/Vexmira.dll" "$build/win32/cli/vexmira.exe" "$build/win64/cli/vexmira.exe")
[[ -n $windows_only ]] || needed+=("$build/wasm/web/index.html" "$build/native/CMakeCache.txt")
for file in "${needed[@]}"; do
    [[ -e $file ]] || { echo "dist: $file is missing: run make dist" >&2; exit 1; }
done
if [[ -z $windows_only ]]; then
    deb=$(ls "$build"/package/vexmira_"$version"_*.deb 2>/dev/null | head -n 1)
    [[ -n $deb ]] || { echo "dist: no vexmira_${version}_*.deb in $build/package: run make dist" >&2; exit 1; }
fi

stage=$build/dist-stage
rm -rf "$dist" "$stage"
mkdir -p "$dist" "$stage"

# zip_folder ZIP FOLDER: FOLDER's files under FOLDER's own name, sorted, with
# fixed times and modes, so the bytes depend on the contents alone.
zip_folder() {
    /usr/bin/python3 - "$1" "$2" <<'PY'
import os, sys, time, zipfile
out, folder = sys.argv[1], sys.argv[2]
stamp = time.gmtime(max(int(os.environ["SOURCE_DATE_EPOCH"]), 315532800))[:6]  # zip times start in 1980
top = os.path.basename(os.path.normpath(folder))
names = []
for parent, folders, files in os.walk(folder):
    folders.sort()
    names += [os.path.relpath(os.path.join(parent, name), folder) for name in files]
with zipfile.ZipFile(out, "x", zipfile.ZIP_DEFLATED, compresslevel=9) as archive:
    for name in sorted(names, key=lambda n: n.replace(os.sep, "/")):
        info = zipfile.ZipInfo(f"{top}/{name}".replace(os.sep, "/"), stamp)
        info.create_system = 3  # Unix, wherever it is made
        info.external_attr = 0o644 << 16
        info.compress_type = zipfile.ZIP_DEFLATED
        with open(os.path.join(folder, name), "rb") as source:
            archive.writestr(info, source.read())
PY
}

# Windows texts end lines in CR LF, which every editor there shows.
crlf() { sed 's/$/\r/' "$1"; }

windows_zip() {  # windows_zip ARCH EXE [DLL]
    local arch=$1 exe=$2 dll=${3:-}
    local folder=$stage/vexmira-$version-windows-$arch
    mkdir -p "$folder"
    local contents="This zip holds:"$'\n\n'
    if [[ -n $dll ]]; then
        cp "$dll" "$folder/Vexmira.dll"
        contents+="    Vexmira.dll       the plug-in for Vestrel (32-bit)"$'\n'
    fi
    # The 64-bit tree keeps debug information for the Wine tests; the shipped
    # program does not. strip writes SOURCE_DATE_EPOCH (else the time) into the
    # PE header: 0 instead, as the linker leaves it.
    if [[ $arch == x64 ]]; then
        SOURCE_DATE_EPOCH=0 x86_64-w64-mingw32-strip -o "$folder/vexmira.exe" "$exe"
    else
        cp "$exe" "$folder/"
    fi
    local bits=32
    [[ $arch == x64 ]] && bits=64
    contents+="    vexmira.exe       the command-line tool (${bits}-bit)"$'\n'
    contents+="    vexmira_arc.ksy   the archive format for Kaitai Struct"$'\n'
    contents+="    README.txt        this file"$'\n'
    contents+="    LICENSE           the licence (MIT)"$'\n'
    contents+="    SHA256SUMS        the SHA-256 sum of each file above"$'\n'
    [[ -z $dll ]] && contents+=$'\n'"The plug-in, Vexmira.dll, is a 32-bit DLL: it comes in the windows-x86 zip."$'\n'
    local plugin=""
    [[ -n $dll ]] && plugin=$(cat packaging/windows/plugin.txt)$'\n\n'
    /usr/bin/python3 - packaging/windows/README.txt "$version" "$arch" "$contents" "$plugin" > "$stage/README.txt" <<'PY'
import sys
template, version, arch, contents, plugin = sys.argv[1:]
text = open(template, encoding="utf-8").read()
sys.stdout.write(text.replace("@VERSION@", version).replace("@ARCH@", arch)
                 .replace("@CONTENTS@", contents).replace("@PLUGIN@\n", plugin))
PY
    crlf "$stage/README.txt" > "$folder/README.txt"
    crlf LICENSE > "$folder/LICENSE"
    cp share/vexmira/vexmira_arc.ksy "$folder/vexmira_arc.ksy"
    (cd "$folder" && sha256sum -- $(ls | grep -v '^SHA256SUMS$') > SHA256SUMS)
    zip_folder "$dist/vexmira-$version-windows-$arch.zip" "$folder"
}
windows_zip x86 "$build/win32/cli/vexmira.exe" "$build/win32/Vexmira.dll"
windows_zip x64 "$build/win64/cli/vexmira.exe"

if [[ -z $windows_only ]]; then
cp "$deb" "$dist/"

# The wheel and the sdist from the source tree, the module built in the
# native tree (already built there: nothing is compiled again).
VEXMIRA_CMAKE_BUILD_DIR=$(realpath "$build/native") PIP_NO_INDEX=1 \
    /usr/bin/python3 -m build --sdist --wheel --no-isolation --outdir "$dist" . > "$stage/python-build.log" 2>&1 ||
    { cat "$stage/python-build.log" >&2; exit 1; }
# setuptools' sdist keeps each file's own time and owner: packed again,
# sorted, with the commit's time, as the other archives are.
/usr/bin/python3 - "$dist/vexmira-$version.tar.gz" <<'PY'
import gzip, io, os, sys, tarfile
path, stamp = sys.argv[1], int(os.environ["SOURCE_DATE_EPOCH"])
packed = io.BytesIO()
with tarfile.open(path, "r:gz") as source, tarfile.open(fileobj=packed, mode="w", format=tarfile.PAX_FORMAT) as target:
    for member in sorted(source.getmembers(), key=lambda member: member.name):
        data = source.extractfile(member).read() if member.isfile() else None
        member.mtime, member.uid, member.gid, member.uname, member.gname = stamp, 0, 0, "root", "root"
        member.mode = 0o755 if member.isdir() or member.mode & 0o111 else 0o644
        member.pax_headers = {}
        target.addfile(member, io.BytesIO(data) if data is not None else None)
with open(path, "wb") as out, gzip.GzipFile(filename="", mode="wb", fileobj=out, compresslevel=9, mtime=0) as packed_gz:
    packed_gz.write(packed.getvalue())
PY

# The page: the static files of build/wasm/web, served from any folder.
mkdir -p "$stage/vexmira-$version-web"
cp -R "$build"/wasm/web/. "$stage/vexmira-$version-web/"
zip_folder "$dist/vexmira-$version-web.zip" "$stage/vexmira-$version-web"

# The sources of the last commit.
git archive --format=tar.gz --prefix="vexmira-$version/" -o "$dist/vexmira-$version-source.tar.gz" HEAD
fi

(cd "$dist" && sha256sum -- $(ls | grep -v '^SHA256SUMS$') > SHA256SUMS)
rm -rf "$stage"
ls -l "$dist"
