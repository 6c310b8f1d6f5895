#!/usr/bin/env bash
# Builds the release packages and checks what they hold:
#   build/package/windows/packages/Mistlock-VERSION-win64.zip   Mistlock.dll,
#       mistlock.exe, the language files, the user guide (mingw-w64 build)
#   build/package/linux/packages/mistlock_VERSION_ARCH.deb      the mistlock
#       command line with its manual page (native build)
# Each comes from a Release build of its own, without the tests. The programs
# in the packages are then run once: the Linux one natively, the Windows one
# under Wine.
#
#   scripts/package.sh --reuse-builds   packs the trees that the test command
#                                       has just built (build/windows and
#                                       build/native) instead, for the check
set -euo pipefail
cd "$(dirname "$0")/.."

reuse=0
[[ ${1:-} == --reuse-builds ]] && reuse=1

scripts/install-deps.sh native windows

jobs=${JOBS:-2}
root=build/package
version=$(sed -n 's/^project(Mistlock VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[[ -n $version ]] || { echo "package: no version in CMakeLists.txt" >&2; exit 1; }
failures=0

fail() {
  echo "package: $*" >&2
  failures=$((failures + 1))
}

build() {  # build DIR [cmake arguments...]: configure, build, run CPack
  local dir=$1
  shift
  echo "=== $dir ==="
  if ((reuse)); then
    [[ -f $dir/CMakeCache.txt ]] || { fail "$dir has not been built"; return; }
  else
    cmake -S . -B "$dir" -G Ninja --no-warn-unused-cli -DCMAKE_BUILD_TYPE=Release -DMISTLOCK_TESTS=OFF "$@" >/dev/null
  fi
  cmake --build "$dir" -j "$jobs"
  rm -rf "$dir/packages"
  (cd "$dir" && cpack >/dev/null)
}

expect_entries() {  # expect_entries PACKAGE LISTING ENTRY...: every ENTRY is a line of LISTING
  local package=$1 listing=$2
  shift 2
  for entry in "$@"; do
    grep -qxF -- "$entry" <<<"$listing" || fail "$package lacks $entry"
  done
}

# Seals messages with the packaged program and opens them again: raw bytes,
# and UTF-8 text through each code page.
round_trip() {  # round_trip NAME PROGRAM-COMMAND...
  local name=$1
  shift
  local sealed opened codepage text
  sealed=$("$@" seal --password "package check" "hex:C0E1" | tr -d '\r') || true
  opened=$("$@" open --password "package check" --hex "$sealed" | tr -d '\r') || true
  [[ $opened == C0E1 ]] || fail "$name: sealed and opened C0E1 as '$opened' (envelope '$sealed')"
  for codepage in 1251 1252; do
    if [[ $codepage == 1251 ]]; then text="Проверка пакета"; else text="Grüße, café"; fi
    opened=$(printf '%s\n' "$text" | "$@" seal --password "package check" --codepage $codepage |
             "$@" open --password "package check" --codepage $codepage | tr -d '\r') || true
    [[ $opened == "$text" ]] || fail "$name: '$text' came back as '$opened' in code page $codepage"
  done
}

windows_dir=$root/windows
linux_dir=$root/linux
if ((reuse)); then
  windows_dir=build/windows
  linux_dir=build/native
fi

# ---- Windows zip ----------------------------------------------------------------
build "$windows_dir" -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-x86_64.cmake
zip="$windows_dir/packages/Mistlock-$version-win64.zip"
if [[ -f $zip ]]; then
  if command -v unzip >/dev/null; then
    listing=$(unzip -Z1 "$zip")
  else
    listing=$(cmake -E tar tf "$zip")
  fi
  top="Mistlock-$version-win64"
  expect_entries "$zip" "$listing" "$top/Mistlock.dll" "$top/mistlock.exe" "$top/lang/English/Mistlock.lng" \
    "$top/lang/template.lng" "$top/docs/user-guide.md"
  # Every picture the user guide shows comes with it.
  for picture in $(grep -o '(images/[^)]*\.png)' docs/user-guide.md | tr -d '()'); do
    expect_entries "$zip" "$listing" "$top/docs/$picture"
  done

  unpacked=$(mktemp -d)
  trap 'rm -rf "$unpacked"' EXIT
  (cd "$unpacked" && cmake -E tar xf "$OLDPWD/$zip")
  for program in Mistlock.dll mistlock.exe; do
    [[ $(head -c 2 "$unpacked/$top/$program") == MZ ]] || fail "$program in the zip is not a Windows program"
  done
  [[ $(head -c 2 "$unpacked/$top/lang/English/Mistlock.lng" | od -An -tx1 | tr -d ' ') == fffe ]] ||
    fail "the English language file is not UTF-16LE with a byte-order mark"
  if command -v wine >/dev/null; then
    scripts/wine-prefix.sh "$windows_dir"
    wine_mistlock() { "$windows_dir/wine-run.sh" "$unpacked/$top/mistlock.exe" "$@"; }
    [[ $(wine_mistlock --version | tr -d '\r') == "mistlock $version" ]] || fail "mistlock.exe --version"
    round_trip "mistlock.exe under Wine" wine_mistlock
  fi
  echo
  echo "$zip:"
  sed 's/^/  /' <<<"$listing"
else
  fail "CPack made no $zip"
fi

# ---- Debian package ------------------------------------------------------------
build "$linux_dir"
deb=$(ls "$linux_dir/packages/"mistlock_"$version"_*.deb 2>/dev/null | head -n 1)
if [[ -n $deb ]]; then
  listing=$(dpkg-deb -c "$deb" | awk '{print $6}')
  expect_entries "$deb" "$listing" ./usr/bin/mistlock ./usr/share/man/man1/mistlock.1.gz \
    ./usr/share/doc/mistlock/user-guide.md
  [[ $(dpkg-deb -f "$deb" Package) == mistlock ]] || fail "$deb: package name"
  [[ $(dpkg-deb -f "$deb" Version) == "$version" ]] || fail "$deb: version"

  unpacked_deb=$(mktemp -d)
  trap 'rm -rf "${unpacked:-}" "$unpacked_deb"' EXIT
  dpkg-deb -x "$deb" "$unpacked_deb"
  gzip -t "$unpacked_deb/usr/share/man/man1/mistlock.1.gz" || fail "the manual page is not a good gzip file"
  [[ $("$unpacked_deb/usr/bin/mistlock" --version) == "mistlock $version" ]] || fail "mistlock --version"
  round_trip "mistlock from the .deb" "$unpacked_deb/usr/bin/mistlock"
  echo
  echo "$deb:"
  dpkg-deb -f "$deb" Package Version Architecture Depends | sed 's/^/  /'
  dpkg-deb -c "$deb" | sed 's/^/  /'
else
  fail "CPack made no .deb in $linux_dir/packages"
fi

echo
if ((failures)); then
  echo "Packaging FAILED ($failures problems)." >&2
  exit 1
fi
echo "Both packages built and checked."
