#!/bin/bash
# Starts or stops a fresh Wine prefix (the end-to-end tests, the main job and
# the benchmark each use their own).
#   wine-prefix.sh start|stop BUILD_DIR PREFIX
# start makes a fresh prefix and leaves its wineserver and Wine's services
# running with no output attached, so that no test's output pipe is held open
# by them; stop ends that wineserver.
set -u
action=$1
build=$2
prefix=$3
export WINEPREFIX="$prefix" HALVEK_WINEPREFIX="$prefix"
server=/usr/lib/wine/wineserver

case "$action" in
  start)
    "$server" -k >/dev/null 2>&1 || true
    "$server" -w >/dev/null 2>&1 || true
    rm -rf "$prefix" "$prefix.lock"
    "$build/wine-run.sh" cmd /c exit </dev/null >/dev/null 2>&1 || true
    "$server" -p </dev/null >/dev/null 2>&1
    "$build/wine-run.sh" cmd /c exit </dev/null >/dev/null 2>&1 || true
    [ -f "$prefix/system.reg" ] || { echo "no Wine prefix at $prefix"; exit 1; }
    echo "Wine prefix ready: $prefix"
    ;;
  stop)
    "$server" -k >/dev/null 2>&1 || true
    echo "Wine prefix stopped: $prefix"
    ;;
  *)
    echo "usage: wine-prefix.sh start|stop BUILD_DIR PREFIX"
    exit 2
    ;;
esac
