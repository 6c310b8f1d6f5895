#!/usr/bin/env bash
# Fuzzes the plug-in with libFuzzer (clang, AddressSanitizer and
# UndefinedBehaviorSanitizer), in build/fuzz.
#
#   scripts/fuzz.sh TARGET|all SECONDS [LIBFUZZER_ARGS...]
#       runs each target for SECONDS; new inputs go to build/fuzz/corpus/TARGET,
#       the repository's fuzz/corpus/TARGET is read as seeds; a finding is
#       written to build/fuzz/findings/TARGET/ and fails the run.
#   scripts/fuzz.sh merge TARGET|all
#       adds to fuzz/corpus/TARGET the inputs of build/fuzz/corpus/TARGET that
#       reach new coverage.
#   scripts/fuzz.sh seeds
#       rewrites the seed-* files of fuzz/corpus/ (fuzz_make_seeds).
#   scripts/fuzz.sh build
#       only configures and builds.
#
# Targets: plugin_events, envelope_open, settings_readers. Logs go to
# build/fuzz/logs/TARGET.log; the last lines hold libFuzzer's final figures.
# FUZZ_NICE (default 10) is the niceness the fuzzers run at.
set -euo pipefail
cd "$(dirname "$0")/.."

targets=(plugin_events envelope_open settings_readers)
build=build/fuzz
jobs=${FUZZ_BUILD_JOBS:-2}

usage() { sed -n '2,20p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2; }

have_libfuzzer() {
  command -v clang++ >/dev/null &&
    [[ -f "$(clang++ -print-runtime-dir 2>/dev/null)/libclang_rt.fuzzer-$(uname -m).a" ]]
}

configure() {
  if ! have_libfuzzer; then
    if [[ $(id -u) -ne 0 ]]; then
      echo "clang with libFuzzer is missing. Install it with:" >&2
      echo "  sudo apt-get update && sudo apt-get install -y --no-install-recommends clang libclang-rt-14-dev" >&2
      exit 1
    fi
    echo "Installing clang and libFuzzer"
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends clang libclang-rt-14-dev >/dev/null
  fi
  # Configured every time (quick when nothing changed), so that a tree made
  # before a change of these settings takes it too.
  cmake -S . -B "$build" -G Ninja \
    -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE= \
    -DCMAKE_CXX_FLAGS="-g -O1 -fno-omit-frame-pointer -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined" \
    -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" \
    -DMISTLOCK_TESTS=OFF -DMISTLOCK_FUZZ=ON -DMISTLOCK_WERROR=ON >/dev/null
}

build_targets() {
  configure
  local names=()
  for t in "$@"; do names+=("fuzz_$t"); done
  cmake --build "$build" -j "$jobs" --target "${names[@]}"
}

pick() {
  if [[ $1 == all ]]; then echo "${targets[@]}"; return; fi
  for t in "${targets[@]}"; do
    if [[ $t == "$1" ]]; then echo "$t"; return; fi
  done
  echo "unknown target: $1 (one of: ${targets[*]}, all)" >&2
  exit 2
}

export ASAN_OPTIONS=${ASAN_OPTIONS:-halt_on_error=1:abort_on_error=1:detect_leaks=1:allocator_may_return_null=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}

run_target() {
  local t=$1 seconds=$2; shift 2
  local work=$build/corpus/$t findings=$build/findings/$t log=$build/logs/$t.log
  mkdir -p "$work" "$findings" "$build/logs"
  echo "=== fuzzing $t for ${seconds}s (log: $log) ==="
  set +e
  nice -n "${FUZZ_NICE:-10}" "$build/fuzz/fuzz_$t" \
    -max_total_time="$seconds" -print_final_stats=1 -timeout=10 -rss_limit_mb=2048 -max_len=4096 \
    -artifact_prefix="$findings/" "$@" "$work" "fuzz/corpus/$t" >"$log" 2>&1
  local rc=$?
  set -e
  grep -E '^#[0-9]+ +(INITED|DONE)|^stat::|ERROR|SUMMARY|\*\*\* fuzz target' "$log" | tail -n 12 || true
  if [[ $rc -ne 0 ]]; then
    echo "!!! $t: finding (exit $rc), see $log and $findings/" >&2
  fi
  return $rc
}

[[ $# -ge 1 ]] || usage
case $1 in
  build)
    build_targets "${targets[@]}"
    ;;
  seeds)
    configure
    cmake --build "$build" -j "$jobs" --target fuzz_make_seeds
    find fuzz/corpus -name 'seed-*' -delete
    "$build/fuzz/fuzz_make_seeds" fuzz/corpus tests/data
    ;;
  merge)
    [[ $# -eq 2 ]] || usage
    read -r -a chosen <<<"$(pick "$2")"
    build_targets "${chosen[@]}"
    for t in "${chosen[@]}"; do
      "$build/fuzz/fuzz_$t" -merge=1 -max_len=4096 "fuzz/corpus/$t" "$build/corpus/$t" 2>&1 | tail -n 2
    done
    ;;
  *)
    [[ $# -ge 2 && $2 =~ ^[0-9]+$ ]] || usage
    read -r -a chosen <<<"$(pick "$1")"
    seconds=$2; shift 2
    build_targets "${chosen[@]}"
    status=0
    for t in "${chosen[@]}"; do
      run_target "$t" "$seconds" "$@" || status=1
    done
    exit $status
    ;;
esac
