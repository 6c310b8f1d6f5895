#!/usr/bin/env bash
# Static analysis of every source of the tree with cppcheck, twice: as the
# Windows build sees it (_WIN32, the Win32 API) and as the Linux build sees it.
# The Windows build has no sanitizer or fuzzer behind it, so this is the one
# check beside the compiler that reads platform/win32/, the messenger's and
# the tests' Windows code. Each configuration is checked with every other
# #if branch too (--force): the seam and non-seam builds of the file layer,
# the AES-NI and portable paths.
#
#   scripts/static-check.sh
#
# A finding fails the run. Findings that are the tool's mistake, not the
# code's, are listed with their reason in scripts/cppcheck-suppressions.txt.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh static

# Every folder of the tree that holds C++ sources, found rather than listed, so
# that a new folder is checked from its first file on. Build trees are not
# sources.
mapfile -t sources < <(find . \( -path ./build -o -path './.*' \) -prune -o -type f -path './*/*' \
  \( -name '*.cpp' -o -name '*.h' \) -print | cut -d/ -f2 | sort -u)
common=(
  --std=c++17 --language=c++ -I .
  --enable=warning,performance,portability
  --force --inline-suppr --error-exitcode=1 --quiet -j "${STATIC_CHECK_JOBS:-2}"
  --suppressions-list=scripts/cppcheck-suppressions.txt
  --library=googletest
  -i fuzz/corpus -i tests/data
  --template='{file}:{line}: {severity} ({id}): {message}'
)

status=0
echo "cppcheck $(cppcheck --version | sed 's/^Cppcheck //') over ${sources[*]}"
echo "cppcheck: Windows configuration"
cppcheck "${common[@]}" --platform=win64 --library=windows \
  -D_WIN32 -D_WIN64 -DUNICODE -D_UNICODE -DWIN32_LEAN_AND_MEAN -DNOMINMAX -D_WIN32_WINNT=0x0601 \
  "${sources[@]}" || status=1
echo "cppcheck: Linux configuration"
cppcheck "${common[@]}" --platform=unix64 --library=posix -U_WIN32 -D__linux__ -D__unix__ \
  "${sources[@]}" || status=1

if [[ $status -eq 0 ]]; then echo "cppcheck: no findings"; else echo "cppcheck: findings above" >&2; fi
exit $status
