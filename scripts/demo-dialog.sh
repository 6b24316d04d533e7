#!/bin/sh
# Shows the real dialog under Wine, on a carrier, and saves a screenshot of it.
# Usage: scripts/demo-dialog.sh CARRIER OUT.png   (after building the win64 preset)
set -eu
[ $# -eq 2 ] || { echo "usage: $0 CARRIER OUT.png" >&2; exit 2; }

root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/win64
host=$build/tests/wine/vexmira_wine_host.exe
dll=$build/Vexmira.dll
prefix=$build/wineprefix
carrier=$(realpath "$1")
out=$(realpath -m "$2")
for file in "$host" "$dll" "$carrier"; do
    [ -f "$file" ] || { echo "demo: $file is missing (build the win64 preset first)" >&2; exit 1; }
done

"$root/tests/wine/wine_prefix.sh" "$prefix" >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM

export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# The host shows the dialog on the carrier, selects an entry, writes the
# dialog's place on the screen into "ready" and waits for "done".
xvfb-run -a -s "-screen 0 1024x768x24" sh -c '
    host=$1 dll=$2 carrier=$3 work=$4 out=$5
    wine "$host" demo "$dll" "$carrier" "$work/ready" "$work/done" &
    pid=$!
    tries=0
    until [ -s "$work/ready" ]; do
        tries=$((tries + 1))
        if [ $tries -gt 300 ] || ! kill -0 $pid 2>/dev/null; then
            echo "demo: the dialog did not come up" >&2
            kill $pid 2>/dev/null
            wineserver -k 2>/dev/null
            exit 1
        fi
        sleep 0.1
    done
    xwd -root -silent -display "$DISPLAY" | convert xwd:- -crop "$(cat "$work/ready")" +repage "$out"
    touch "$work/done"
    wait $pid
    status=$?
    wineserver -k 2>/dev/null
    exit $status' demo "$host" "$dll" "$carrier" "$work" "$out"
echo "demo: screenshot of the dialog saved to $out"
