#!/usr/bin/env bash
# Creates the Wine prefix of a Windows build tree once, before its tests run,
# so that no test pays for it or races another to make it.
set -euo pipefail
build=${1:?usage: wine-prefix.sh BUILD_DIR}
if [[ ! -f "$build/wineprefix/system.reg" ]]; then
  echo "Creating the Wine prefix in $build/wineprefix"
  "$build/wine-run.sh" wineboot --init >/dev/null 2>&1 || true
fi
WINEPREFIX="$(cd "$build" && pwd)/wineprefix" wineserver -w 2>/dev/null || true
