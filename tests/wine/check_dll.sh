#!/bin/sh
# Checks the built plug-in file: its PE machine, exactly the three exports at
# their ordinals, their calling convention on 32-bit x86, and imports from
# Windows system DLLs only (so no runtime DLL). With "exe", checks a program: its machine and its imports.
# Usage: check_dll.sh FILE OBJDUMP FORMAT [exe]   (FORMAT: pe-i386 or pe-x86-64)
set -u
dll=$1 objdump=$2 format=$3 kind=${4:-dll}
failures=0
fail() { echo "check_dll: Test failed: $*"; failures=$((failures + 1)); }

headers=$("$objdump" -f "$dll") || { echo "check_dll: cannot read $dll"; exit 1; }
got_format=$(printf '%s\n' "$headers" | sed -n 's/.*file format p[e]i\{0,1\}-\{0,1\}\(.*\)$/\1/p' | head -n1)
want_format=${format#pe-}
[ "$got_format" = "$want_format" ] || fail "format got \"$got_format\", expected \"$want_format\""

private=$("$objdump" -p "$dll")

# "[   0] +base[   1] ..." gives the ordinals; "[   2] About" after the
# name table heading maps names to ordinal minus base.
base=$(printf '%s\n' "$private" | sed -n 's/^Ordinal Base[[:space:]]*\([0-9]*\)/\1/p')
exports=$(printf '%s\n' "$private" | awk -v base="${base:-0}" '
    /\[Ordinal\/Name Pointer\] Table/ { names = 1; next }
    names && /^\t\[ *[0-9]+\] [A-Za-z_@?$0-9]+$/ {
        index_text = $0; sub(/^\t\[ */, "", index_text); sub(/\].*/, "", index_text)
        print $NF "@" (index_text + base); next
    }
    names && !/^\t\[/ { names = 0 }
' | sort | tr '\n' ' ')
if [ "$kind" = dll ]; then
    want_exports="About@3 DoMyJob@2 LoadDll@1 "
    [ "$exports" = "$want_exports" ] || fail "exports got \"$exports\", expected \"$want_exports\""

    count=$(printf '%s\n' "$private" | sed -n 's/^[[:space:]]*Export Address Table[[:space:]]*\([0-9a-fA-F]*\)$/\1/p' | head -n1)
    [ "$count" = "00000003" ] || fail "export address table holds \"$count\" entries, expected 00000003"

    # cdecl: the caller removes the arguments, so each export returns with a
    # plain "ret"; stdcall would end DoMyJob with "ret $0x8". The first return
    # instruction from each entry point, in address order, is the function's own.
    if [ "$format" = pe-i386 ]; then
        image_base=$(printf '%s\n' "$private" | sed -n 's/^ImageBase[[:space:]]*\([0-9a-fA-F]*\)$/\1/p')
        for export in $exports; do
            name=${export%@*} ordinal=${export#*@}
            rva=$(printf '%s\n' "$private" | sed -n "s/^[[:space:]]*\[ *[0-9]*\] +base\[ *$ordinal\] \([0-9a-fA-F]*\) Export RVA$/\1/p")
            start=$(printf '0x%x' $((0x$image_base + 0x$rva)))
            stop=$(printf '0x%x' $((start + 1024)))
            ret=$("$objdump" -d --start-address="$start" --stop-address="$stop" "$dll" |
                  sed -n 's/^[[:space:]]*[0-9a-f]*:[[:space:]]*[0-9a-f ]*[[:space:]]\(ret[^#]*\)$/\1/p' | head -n1 | sed 's/[[:space:]]*$//')
            [ "$ret" = ret ] || fail "$name returns with \"$ret\", expected a plain \"ret\" (cdecl)"
        done
    fi
fi

system_dlls=" kernel32.dll user32.dll gdi32.dll comctl32.dll msvcrt.dll advapi32.dll ntdll.dll "
imports=$(printf '%s\n' "$private" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
[ -n "$imports" ] || fail "no imports found"
for name in $imports; do
    case "$system_dlls" in
    *" $name "*) ;;
    *) fail "imports $name, which is not a Windows system DLL" ;;
    esac
done

echo "check_dll: $dll: format $got_format; exports $exports; imports $(echo $imports)"
echo "check_dll: $failures failures"
[ "$failures" -eq 0 ]
