#!/usr/bin/env bash
# Builds the release packages and checks what they hold:
#   build/package/windows/packages/Mistlock-VERSION-win64.zip   Mistlock.dll,
#       mistlock.exe, the language files, README.txt, LICENSE.txt,
#       CHANGELOG.txt, the user guide as a web page, SHA256SUMS (mingw-w64)
#   build/package/linux/packages/mistlock_VERSION-1_ARCH.deb    the mistlock
#       command line with its manual page, copyright and changelogs (native)
# Each comes from a Release build of its own, without the tests. Every file
# of a package is checked against the tables below, the .deb by lintian too
# (an error or a warning fails), and the programs in the packages are run
# once: the Linux one natively, the Windows one under Wine.
#
#   scripts/package.sh --reuse-builds   packs the trees that the test command
#                                       has just built (build/windows and
#                                       build/native) instead, for the check
set -euo pipefail
cd "$(dirname "$0")/.."

reuse=0
[[ ${1:-} == --reuse-builds ]] && reuse=1

scripts/install-deps.sh native windows package

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

# check_files PACKAGE DIR LISTING TABLE: every line of TABLE is "PATH CHECK";
# each PATH must be in LISTING (its entries relative to DIR, where the package
# is unpacked) and pass CHECK, a function below given the file. An entry of
# LISTING that no line names is a stray.
check_files() {
  local package=$1 dir=$2 listing=$3 table=$4 path check named=""
  while read -r path check; do
    [[ -z $path ]] && continue
    named+="$path"$'\n'
    if ! grep -qxF -- "$path" <<<"$listing"; then
      fail "$package lacks $path"
    elif ! "is_$check" "$dir/$path"; then
      fail "$package: $path is not $check"
    fi
  done <<<"$table"
  while read -r path; do
    [[ -z $path || $path == */ ]] && continue
    grep -qxF -- "$path" <<<"$named" || fail "$package holds an unexpected $path"
  done <<<"$listing"
}

is_present() { [[ -f $1 ]]; }
is_windows_program() { [[ $(head -c 2 "$1") == MZ ]]; }
is_utf16le() { [[ $(head -c 2 "$1" | od -An -tx1 | tr -d ' ') == fffe ]]; }
is_gzip() { gzip -t "$1" 2>/dev/null; }
# Plain text whose every line, the last one too, ends in CR LF.
is_crlf_text() { [[ -s $1 && $(grep -c -v $'\r$' "$1") == 0 && $(tail -c 2 "$1" | od -An -tx1 | tr -d ' ') == 0d0a ]]; }
# A version resource naming this version and the file's own name.
is_versioned() {
  local strings
  strings=$(wrestool -x --raw --type=16 "$1" 2>/dev/null | strings -el) || return 1
  grep -A1 -x ProductVersion <<<"$strings" | grep -qx "$version" &&
    grep -A1 -x OriginalFilename <<<"$strings" | grep -qx "$(basename "$1")"
}
# Lists every other file of its folder, each with its right checksum.
is_checksums() {
  local folder listed actual
  folder=$(dirname "$1")
  is_crlf_text "$1" || return 1
  listed=$(tr -d '\r' <"$1" | sed 's/^[0-9a-f]\{64\}  //' | sort)
  actual=$(cd "$folder" && find . -type f ! -name "$(basename "$1")" | sed 's|^\./||' | sort)
  [[ $listed == "$actual" ]] && (cd "$folder" && sha256sum --quiet -c "$(basename "$1")")
}
# A web page whose every picture is beside it.
is_web_page() {
  local picture
  grep -q '<title>' "$1" || return 1
  for picture in $(grep -o '<img [^>]*src="[^"]*"' "$1" | sed 's/.*src="\([^"]*\)"/\1/'); do
    [[ -f $(dirname "$1")/$picture ]] || return 1
  done
}
# Debian's machine-readable copyright format, with the licence text.
is_dep5_copyright() {
  head -n 1 "$1" | grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' &&
    grep -qx 'License: Expat' "$1" && grep -q 'THE SOFTWARE IS PROVIDED "AS IS"' "$1"
}
# The release's changelog (plain or gzip): its first section is this version,
# and nothing in it is left "Unreleased".
is_release_changelog() {
  local text
  if is_gzip "$1"; then text=$(gzip -dc "$1"); else text=$(tr -d '\r' <"$1"); fi
  [[ $(grep -m 1 '^## ' <<<"$text") =~ ^"## $version"( |$) ]] && ! grep -qi '^## unreleased' <<<"$text"
}
# The Debian changelog, its latest entry this very package version.
is_debian_changelog() {
  is_gzip "$1" && [[ $(gzip -dc "$1" | head -n 1) == "mistlock ($deb_version) "* ]]
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
  top="Mistlock-$version-win64"
  unpacked=$(mktemp -d)
  trap 'rm -rf "$unpacked"' EXIT
  (cd "$unpacked" && cmake -E tar xf "$OLDPWD/$zip")
  if command -v unzip >/dev/null; then
    listing=$(unzip -Z1 "$zip")
  else
    listing=$(cmake -E tar tf "$zip")
  fi
  # What a Windows user finds on unpacking, and what each file must be.
  zip_files="
    Mistlock.dll                  windows_program
    Mistlock.dll                  versioned
    mistlock.exe                  windows_program
    mistlock.exe                  versioned
    lang/English/Mistlock.lng     utf16le
    lang/template.lng             utf16le
    README.txt                    crlf_text
    LICENSE.txt                   crlf_text
    CHANGELOG.txt                 crlf_text
    CHANGELOG.txt                 release_changelog
    docs/user-guide.html          web_page
    SHA256SUMS                    checksums"
  # Every picture that the guide shows comes with it, and no other.
  for picture in $(grep -o '(images/[^)]*\.png)' docs/user-guide.md | tr -d '()' | sort -u); do
    zip_files+=$'\n'"docs/$picture present"
  done
  check_files "$zip" "$unpacked/$top" "$(sed -n "s|^$top/||p" <<<"$listing")" "$zip_files"
  grep -qv "^$top/" <<<"$listing" && fail "$zip: not everything is in the folder $top"
  cmp -s <(tr -d '\r' <"$unpacked/$top/LICENSE.txt") LICENSE || fail "$zip: LICENSE.txt is not LICENSE"

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
deb_version="$version-1"
deb=$(ls "$linux_dir/packages/"mistlock_"$deb_version"_*.deb 2>/dev/null | head -n 1)
if [[ -n $deb ]]; then
  unpacked_deb=$(mktemp -d)
  trap 'rm -rf "${unpacked:-}" "$unpacked_deb"' EXIT
  dpkg-deb -x "$deb" "$unpacked_deb"
  listing=$(dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./||')
  doc=usr/share/doc/mistlock
  deb_files="
    usr/bin/mistlock                    present
    usr/share/man/man1/mistlock.1.gz    gzip
    $doc/copyright                      dep5_copyright
    $doc/changelog.Debian.gz            debian_changelog
    $doc/changelog.gz                   release_changelog
    $doc/user-guide.md                  present
    usr/share/lintian/overrides/mistlock present"
  for picture in $(grep -o '(images/[^)]*\.png)' docs/user-guide.md | tr -d '()' | sort -u); do
    deb_files+=$'\n'"$doc/$picture present"
  done
  check_files "$deb" "$unpacked_deb" "$listing" "$deb_files"
  [[ $(dpkg-deb -f "$deb" Package) == mistlock ]] || fail "$deb: package name"
  [[ $(dpkg-deb -f "$deb" Version) == "$deb_version" ]] || fail "$deb: version"
  [[ $("$unpacked_deb/usr/bin/mistlock" --version) == "mistlock $version" ]] || fail "mistlock --version"
  round_trip "mistlock from the .deb" "$unpacked_deb/usr/bin/mistlock"
  echo
  echo "$deb:"
  dpkg-deb -f "$deb" Package Version Architecture Maintainer Depends | sed 's/^/  /'
  dpkg-deb -c "$deb" | sed 's/^/  /'
  if command -v lintian >/dev/null; then
    echo
    echo "lintian $deb (info, pedantic and overridden tags shown; an error or a warning fails):"
    # Overridden tags are shown too, with the reasons; only the tags left
    # standing count (lintian's own --fail-on counts the overridden ones).
    lintian_output=$(lintian --display-info --pedantic --show-overrides "$deb" 2>&1 |
                     grep -v 'running with root privileges' || true)
    [[ -n $lintian_output ]] && sed 's/^/  /' <<<"$lintian_output"
    ! grep -q '^[EW]: ' <<<"$lintian_output" || fail "lintian finds errors or warnings in $deb"
  fi
else
  fail "CPack made no .deb in $linux_dir/packages"
fi

echo
if ((failures)); then
  echo "Packaging FAILED ($failures problems)." >&2
  exit 1
fi
echo "Both packages built and checked."
