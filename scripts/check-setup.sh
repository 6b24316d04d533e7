#!/usr/bin/env bash
# Fails when the build or the tests use a file that a fresh machine would not
# have: every package folder CMake found, every Python module the tests and
# scripts import, and every program they run must belong to a Debian package
# that scripts/setup.sh installs, or that one of those pulls in.
#
# Usage: scripts/check-setup.sh [BUILD_DIR]   (default build/native, configured)
# VEXMIRA_SETUP_LIST names another package list, for testing this check itself.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/native}
setup=${VEXMIRA_SETUP_LIST:-$root/scripts/setup.sh}
cache=$build/CMakeCache.txt
python=/usr/bin/python3
[ -f "$cache" ] || { echo "check-setup: $cache is missing (configure the native preset first)" >&2; exit 2; }

# The programs the tests, the demo and the scripts run by name. CMake's own
# finds (compilers, ninja, help2man...) come from the cache below.
programs=(cmake ctest cpack ninja g++ clang++ make wine wineserver xvfb-run xwd convert lintian help2man
          dpkg-shlibdeps yara binwalk file qemu-i386-static i686-w64-mingw32-g++ x86_64-w64-mingw32-g++
          x86_64-w64-mingw32-objdump i686-w64-mingw32-objdump gzip script unshare
          git sha256sum dpkg-deb x86_64-w64-mingw32-strip)
# Later parts add theirs here when present in the tree.
[ -d "$root/web" ] && programs+=(emcc emcmake node npm chromium)

# Where the tests' and scripts' Python code lives.
python_sources=("$root/tests" "$root/python" "$root/scripts" "$root/share")

problems=0
say() { echo "check-setup: $*" >&2; problems=$((problems + 1)); }

# --- What is used: files on disk -------------------------------------------
files=()
# Package folders and programs from the configured build.
while IFS= read -r line; do
    value=${line#*=}
    [ -n "$value" ] && [ "${value%-NOTFOUND}" = "$value" ] || continue
    case $value in /usr/*|/lib/*|/bin/*) ;; *) continue ;; esac
    [ -e "$value" ] && files+=("$value")
done < <(grep -E '^[A-Za-z0-9_]+(_DIR|_INCLUDE_DIR|_INCLUDE_DIRS|_EXECUTABLE|_COMPILER|_PROGRAM|_HELP2MAN|_LIBRARY|_LIBRARIES):(PATH|FILEPATH|STRING|INTERNAL)=' "$cache" \
         | grep -vE '^(CMAKE_(ADDR2LINE|AR|DLLTOOL|LINKER|NM|OBJCOPY|OBJDUMP|RANLIB|READELF|STRIP|TAPI|MT|RC|COMMAND|CTEST|CPACK|ROOT|INSTALL_PREFIX|HOME)[A-Z_]*):')
# The Python include folder CMake used for the module.
python_include=$(grep -E '^(Python3_INCLUDE_DIRS|_Python3_INCLUDE_DIR):' "$cache" | head -1 | cut -d= -f2)
[ -n "$python_include" ] && [ -e "$python_include" ] && files+=("$python_include")

# Looked up on the system's own PATH: /usr/local holds this machine's stand-ins.
for program in "${programs[@]}"; do
    path=$(PATH=/usr/sbin:/usr/bin:/sbin:/bin command -v "$program" 2>/dev/null) || { say "program '$program' is not installed (a test or script runs it)"; continue; }
    files+=("$path")
done

# Python modules that are imported, resolved by Debian's interpreter; the
# standard library and the project's own modules are skipped.
mapfile -t python_files < <(
    { find "${python_sources[@]}" -name '*.py' -type f 2>/dev/null
      grep -rlE '^#!.*python3' "${python_sources[@]}" 2>/dev/null; } | sort -u)
if [ ${#python_files[@]} -ne 0 ]; then
    while IFS=$'\t' read -r kind module where; do
        case $kind in
            file) files+=("$where") ;;
            missing) say "Python module '$module' (imported by $where) is not importable by $python" ;;
        esac
    done < <("$python" - "$root" "${python_files[@]}" <<'EOF'
import ast, importlib.util, os, sys
root, sources = sys.argv[1], sys.argv[2:]
# Names that are the project's own: its module and the tests' helpers.
own = {"vexmira"}
for folder, _, names in os.walk(root):
    if "/build" in folder or "/.git" in folder or "node_modules" in folder:
        continue
    own.update(name[:-3] for name in names if name.endswith(".py"))
seen = {}
for source in sources:
    try:
        tree = ast.parse(open(source, "rb").read(), source)
    except SyntaxError:
        continue
    for node in ast.walk(tree):
        if isinstance(node, ast.Import):
            names = [alias.name for alias in node.names]
        elif isinstance(node, ast.ImportFrom) and node.level == 0 and node.module:
            names = [node.module]
        else:
            continue
        for name in names:
            top = name.split(".")[0]
            if top in sys.stdlib_module_names or top in own or top in seen:
                continue
            seen[top] = os.path.relpath(source, root)
for top, source in sorted(seen.items()):
    try:
        found = importlib.util.find_spec(top)
    except (ImportError, ValueError):
        found = None
    if found is None:
        print(f"missing\t{top}\t{source}")
        continue
    origin = found.origin if found.origin not in (None, "namespace") else next(iter(found.submodule_search_locations or []), None)
    if origin:
        print(f"file\t{top}\t{os.path.realpath(origin)}")
EOF
)
fi

# --- Which packages own them ------------------------------------------------
# dpkg knows a file by the path its package shipped: each file is asked for as
# given, as its target, and with or without merged /usr's /usr prefix, all in
# one dpkg call.
forms() {
    local candidate
    for candidate in "$1" "$(realpath -m "$1")"; do
        printf '%s\n' "$candidate" "${candidate#/usr}" "/usr$candidate"
    done | awk '!seen[$0]++'
}
declare -A shipped=()
mapfile -t asked < <(for file in "${files[@]}"; do forms "$file"; done | sort -u)
while IFS= read -r line; do
    # "package[:arch][, package...]: /path"
    # (a folder may be shipped by several: any one of them will do).
    shipped[${line#*: }]=$(printf '%s' "${line%%: *}" | tr -d ' ' | tr ',' '\n' | cut -d: -f1 | tr '\n' ' ')
done < <(dpkg -S "${asked[@]}" 2>/dev/null | grep -v '^diversion')
declare -A owners=()
for file in "${files[@]}"; do
    [ -n "${owners[$file]+set}" ] && continue
    owners[$file]=""
    while IFS= read -r form; do
        if [ -n "${shipped[$form]+set}" ]; then owners[$file]=${shipped[$form]}; break; fi
    done < <(forms "$file")
    [ -n "${owners[$file]}" ] || say "$file belongs to no Debian package (installed by hand?)"
done

# --- What a fresh machine gets ----------------------------------------------
# The lists in setup.sh: `packages` with their recommends, `bare_packages`
# without, as setup.sh installs them.
read_list() {
    # From `NAME=(` to the first line whose code (comments aside) closes it:
    # a comment may hold parentheses of its own.
    sed -e 's/#.*//' "$setup" | sed -n "/^$1=(/,/)/p" | sed -e "s/^$1=(//" -e 's/)//' | tr -s ' \t' '\n' | grep -v '^$' || true
}
mapfile -t listed < <(read_list packages)
mapfile -t bare < <(read_list bare_packages)
[ ${#listed[@]} -ne 0 ] || { echo "check-setup: no package list found in $setup" >&2; exit 2; }
depends_flags=(--recurse --no-suggests --no-conflicts --no-breaks --no-replaces --no-enhances)
{
    printf '%s\n' "${listed[@]}" "${bare[@]}"
    apt-cache depends "${depends_flags[@]}" "${listed[@]}" 2>/dev/null | grep -v '^ '
    [ ${#bare[@]} -eq 0 ] || apt-cache depends "${depends_flags[@]}" --no-recommends "${bare[@]}" 2>/dev/null | grep -v '^ '
    # Every Debian system has its essential packages.
    dpkg-query -W -f='${Package} ${Essential}\n' | awk '$2 == "yes" { print $1 }'
} | sed -e 's/^<//' -e 's/>$//' -e 's/:.*//' | sort -u > "${TMPDIR:-/tmp}/check-setup.$$"
trap 'rm -f "${TMPDIR:-/tmp}/check-setup.$$"' EXIT

declare -A reported=()
for file in "${!owners[@]}"; do
    [ -n "${owners[$file]}" ] || continue
    installed=""
    for package in ${owners[$file]}; do
        grep -qxF "$package" "${TMPDIR:-/tmp}/check-setup.$$" && installed=$package
    done
    [ -n "$installed" ] && continue
    package=${owners[$file]%% *}
    [ -n "${reported[$package]+set}" ] && continue
    reported[$package]=1
    say "package $package (for $file) is neither listed in ${setup#"$root"/} nor pulled in by a listed one"
done

if [ "$problems" -ne 0 ]; then
    echo "check-setup: $problems problem(s): a fresh machine would miss them" >&2
    exit 1
fi
echo "check-setup: ${#owners[@]} files, each from a package that ${setup#"$root"/} installs"
