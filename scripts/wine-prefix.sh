#!/usr/bin/env bash
# Prepares the Wine prefix of a Windows build tree before its tests run:
#   wine-prefix.sh BUILD_DIR          creates the prefix once, so that no test
#                                     pays for it or races another to make it
#   wine-prefix.sh BUILD_DIR --start  also keeps one Wine session running, its
#                                     desktop already up, until --stop
#   wine-prefix.sh BUILD_DIR --stop   ends that session
#
# Wine starts its desktop and service processes with the first program that
# opens a window, and they inherit that program's output: under CTest the
# first windowed test would then seem to run until the whole session ends.
# Started here, with their output going nowhere, they hold no test's pipes.
set -euo pipefail
build=${1:?usage: wine-prefix.sh BUILD_DIR [--start|--stop]}
action=${2:-}
prefix="$(cd "$build" && pwd)/wineprefix"
export WINEPREFIX="$prefix"

if [[ $action == --stop ]]; then
  wineserver -k 2>/dev/null || true
  exit 0
fi

if [[ ! -f "$prefix/system.reg" ]]; then
  echo "Creating the Wine prefix in $prefix"
  "$build/wine-run.sh" wineboot --init </dev/null >/dev/null 2>&1 || true
fi
# No window manager runs on the virtual display: Wine draws the frames itself
# and does not wait for a manager's answer at every show and hide.
"$build/wine-run.sh" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1 || true
wineserver -w 2>/dev/null || true

if [[ $action == --start ]]; then
  wineserver -p </dev/null >/dev/null 2>&1
  # Any program that opens a window brings the desktop up; the reference messenger
  # with the plug-in is at hand in every Windows build.
  warm=$(mktemp -d)
  printf 'init %s\nfinalise\n' "$warm" |
    "$build/wine-run.sh" "$build/tools/messenger/mistlock-messenger.exe" "$build/host/Mistlock.dll" >/dev/null 2>&1 || true
  rm -rf "$warm"
fi
