#!/bin/sh
# Runs a Windows program under Wine, in the given prefix, on a private X server.
# Usage: run_wine.sh PREFIX PROGRAM [ARGS...]
set -u
prefix=$1
shift
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# The Wine server outlives the program by a few seconds and is tied to this X
# server through its desktop process, so it goes down with it.
exec xvfb-run -a -s "-screen 0 1280x1024x24" sh -c '
    wine "$@"
    status=$?
    wineserver -k 2>/dev/null
    exit $status' run_wine "$@"
