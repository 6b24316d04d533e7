#!/bin/sh
# Creates the Wine prefix the tests and the demo run in; a ready prefix is left alone.
# Usage: wine_prefix.sh PREFIX
set -eu
prefix=$1
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# Bump the marker when the settings below change, so existing prefixes get them.
marker="$prefix/.vexmira-prefix-3"
if [ -f "$marker" ]; then
    echo "wine prefix ready: $prefix"
    exit 0
fi
mkdir -p "$prefix"
# There is no window manager under Xvfb: Wine manages its windows itself
# (otherwise every hide waits two seconds for a manager to answer) and draws
# their title bars, so that the close box can be clicked and seen.
# A first start is noisy by design (the configuration it creates, the 32-bit
# loader this 64-bit Wine lacks): that goes to a log, shown only on failure.
log="$prefix/../$(basename "$prefix").log"
if ! xvfb-run -a sh -c '
    wine wineboot -u &&
    wine reg add "HKCU\Software\Wine\X11 Driver" /v Managed /d N /f &&
    wine reg add "HKCU\Software\Wine\X11 Driver" /v Decorated /d N /f &&
    wineserver -w' >"$log" 2>&1; then
    cat "$log" >&2
    echo "wine prefix: creating $prefix failed (log: $log)" >&2
    exit 1
fi
# This Wine does not find its own fonts (System, Tahoma, Marlett for the
# title bar's buttons) where it installed them; the prefix's font folder is
# searched for sure.
if [ -d /usr/share/wine/fonts ]; then
    cp -n /usr/share/wine/fonts/* "$prefix/drive_c/windows/Fonts/"
fi
touch "$marker"
echo "wine prefix made: $prefix"
