#!/bin/sh
# usage: unmanaged-windows.sh WINE_RUN PROGRAM.exe...
#
# The virtual display of the test run has no window manager, and Wine waits
# two seconds for one whenever a window that it hands to the manager is hidden
# or destroyed. The windowed test programs hide and destroy dialogs all the
# time, so their windows are left unmanaged: Wine then draws and places them
# itself, as Windows does. The setting is per program, in the build's own
# Wine prefix. Output goes nowhere: Wine's helper processes started from here
# must not hold on to the test runner's pipes.
wine_run=$1
shift
for program in "$@"; do
  "$wine_run" reg add "HKCU\\Software\\Wine\\AppDefaults\\$program\\X11 Driver" /v Managed /d N /f \
    >/dev/null 2>&1 </dev/null || exit 1
done
