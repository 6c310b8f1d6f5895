#!/usr/bin/env bash
# Installs, through apt-get as root, what the named parts of the work need:
#   native   the Linux build and its tests (valgrind: the constant-time check)
#   windows  the mingw-w64 cross build and Wine with a virtual display
#   s390x    the big-endian cross build and qemu-user
#   fuzz     clang with libFuzzer and the sanitizer runtimes
#   bench    Google Benchmark and OpenSSL (benchmarks only), matplotlib for the plot
#   static   cppcheck, the static analysis of scripts/static-check.sh
#   package  what scripts/package.sh checks and makes the packages with:
#            lintian, python3-markdown for the guide's web page, icoutils
#            for the version resources, unzip
#   screenshot  what scripts/screenshot.sh photographs the dialog with
# Without root it prints the exact command to run instead.
set -euo pipefail

declare -A group=(
  [native]="cmake ninja-build g++ googletest locales dpkg-dev valgrind"
  [windows]="g++-mingw-w64-x86-64-posix wine wine64 fonts-wine xvfb xauth locales"
  [s390x]="g++-s390x-linux-gnu libc6-dev-s390x-cross qemu-user"
  [fuzz]="clang libclang-rt-14-dev"
  [bench]="libbenchmark-dev libssl-dev python3 python3-matplotlib"
  [static]="cppcheck"
  [package]="lintian python3-markdown icoutils unzip"
  [screenshot]="xdotool imagemagick"
)

wanted=()
for name in "${@:-native}"; do
  [[ -n "${group[$name]:-}" ]] || { echo "install-deps: unknown part '$name'" >&2; exit 2; }
  read -r -a list <<<"${group[$name]}"
  wanted+=("${list[@]}")
done

missing=()
for package in "${wanted[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
missing=($(printf '%s\n' "${missing[@]}" | sort -u))

if ((${#missing[@]})); then
  if [[ $(id -u) -ne 0 ]]; then
    echo "Missing packages. Install them with:" >&2
    echo "  sudo apt-get update && sudo apt-get install -y --no-install-recommends ${missing[*]}" >&2
    exit 1
  fi
  echo "Installing: ${missing[*]}"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# The tests run under the Cyrillic and the Western code page: Wine takes the
# ANSI code page from these locales.
if [[ " ${wanted[*]} " == *" locales "* ]]; then
  need_locales=()
  for loc in ru_RU en_US; do
    locale -a 2>/dev/null | grep -qi "^${loc}\.utf-\?8$" || need_locales+=("$loc")
  done
  if ((${#need_locales[@]})); then
    if [[ $(id -u) -ne 0 ]]; then
      echo "Missing locales ${need_locales[*]}. Generate them with:" >&2
      echo "  sudo sed -i -E 's/^# *((ru_RU|en_US)\.UTF-8 UTF-8)/\\1/' /etc/locale.gen && sudo locale-gen" >&2
      exit 1
    fi
    sed -i -E 's/^# *((ru_RU|en_US)\.UTF-8 UTF-8)/\1/' /etc/locale.gen
    grep -qE '^ru_RU\.UTF-8 UTF-8' /etc/locale.gen || echo 'ru_RU.UTF-8 UTF-8' >> /etc/locale.gen
    grep -qE '^en_US\.UTF-8 UTF-8' /etc/locale.gen || echo 'en_US.UTF-8 UTF-8' >> /etc/locale.gen
    locale-gen >/dev/null
  fi
fi
