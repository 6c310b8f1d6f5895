#!/usr/bin/env bash
# Builds the native tree with AddressSanitizer and UndefinedBehaviorSanitizer
# (preset native-sanitize, build/native-sanitize) and runs the whole native
# test suite under them, the fuzz corpus replays included. Any report stops
# the program that made it, and so fails its test.
set -euo pipefail
cd "$(dirname "$0")/.."

# Leaks are checked at exit; UB and ASan reports abort with a stack.
export ASAN_OPTIONS=${ASAN_OPTIONS:-halt_on_error=1:abort_on_error=1:detect_leaks=1:detect_stack_use_after_return=1:strict_string_checks=1:check_initialization_order=1:strict_init_order=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-exitcode=23}

cmake --preset native-sanitize >/dev/null
cmake --build --preset native-sanitize -j "${SANITIZE_BUILD_JOBS:-2}"
ctest --preset native-sanitize "$@"
