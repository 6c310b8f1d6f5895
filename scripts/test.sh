#!/usr/bin/env bash
# Builds and runs every test: the static analysis of both configurations, the
# native build, the same under the sanitizers, a short run of every fuzz
# target, the Windows build under Wine (both ANSI code pages, windows on a
# virtual display), the cipher on a big-endian machine, and the release
# packages. Every build treats a warning as an error. Installs what it lacks
# first (see install-deps.sh).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh native windows s390x fuzz static

status=0
run() {
  echo
  echo "=== $* ==="
  "$@" || status=1
}

# cppcheck over every source, as the Windows and as the Linux build see it; a
# finding fails.
run scripts/static-check.sh

# Native: unit tests, the plug-in through the reference messenger.
run bash -c 'cmake --preset native >/dev/null && cmake --build --preset native -j 2 && ctest --preset native'

# Native again under AddressSanitizer and UndefinedBehaviorSanitizer, the fuzz
# corpus replays and the fault-injection tests included.
run scripts/test-sanitize.sh

# Every fuzz target for 20 seconds with libFuzzer (clang); a finding fails.
run scripts/fuzz.sh all 20

# Windows: Mistlock.dll and the tests under Wine, with a prefix in the build
# tree, and one virtual display for every windowed test. Now and then Wine
# fails to start a program at all (no output, a few milliseconds): such a
# test gets one more run.
run bash -c 'cmake --preset windows >/dev/null && cmake --build --preset windows -j 2 &&
  source scripts/virtual-display.sh && scripts/wine-prefix.sh build/windows --start &&
  { ctest --preset windows --repeat until-pass:2; result=$?; scripts/wine-prefix.sh build/windows --stop; exit $result; }'

# Big-endian: the cipher gives the same bytes on s390x.
run scripts/test-s390x.sh

# The release packages, made from the trees built above, and what they hold.
run scripts/package.sh --reuse-builds

echo
if [[ $status -eq 0 ]]; then echo "All test suites passed."; else echo "Some test suites FAILED." >&2; fi
exit $status
