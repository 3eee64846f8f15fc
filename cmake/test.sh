#!/usr/bin/env bash
# make test: every build and every test, phase by phase, and at the end (on
# every path, a failed phase included) how long each phase took.
#
# Tests of one tree run side by side (ctest -j); the ones that time a run or
# take the machine's memory are marked RUN_SERIAL and run alone. The fuzzer
# (its own build, then FUZZ_RUNS inputs) runs while the ThreadSanitizer tree
# builds, so no timed run meets it; an interrupted make test stops it too.
#   test.sh JOBS FUZZ_RUNS
set -uo pipefail
cd "$(dirname "$0")/.."
jobs=${1:-$(nproc)}
fuzz_runs=${2:-300000}

names=() seconds=() results=()
started=$(date +%s)
report() {
  local i total=$(( $(date +%s) - started ))
  echo
  echo "make test, phase by phase:"
  printf '  %-36s %7s  %s\n' phase seconds result
  for i in "${!names[@]}"; do printf '  %-36s %7s  %s\n' "${names[$i]}" "${seconds[$i]}" "${results[$i]}"; done
  printf '  %-36s %7s\n' total "$total"
}
# The fuzzer runs in a session of its own: a background job of a script
# ignores Ctrl-C, so an interrupted make test stops it here, with all it
# started.
fuzz_session=
stop_fuzzer() {
  if [ -n "$fuzz_session" ]; then kill -TERM -- "-$fuzz_session" 2>/dev/null; fi
  fuzz_session=
}
trap 'stop_fuzzer; report' EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# phase NAME COMMAND...: runs one phase and records it; a failed phase ends
# make test with its status.
phase() {
  local name=$1 t0=$SECONDS status=0
  shift
  echo "== $name"
  "$@" || status=$?
  names+=("$name") seconds+=($((SECONDS - t0)))
  if [ "$status" -ne 0 ]; then results+=("FAILED ($status)"); exit "$status"; fi
  results+=(ok)
}

build() { cmake --preset "$1" >/dev/null && cmake --build --preset "$1" -j "$jobs"; }
tests() { ctest --preset "$1" -j "$jobs"; }

phase "build windows" build windows
phase "build release" build release
phase "ctest release" tests release
phase "ctest windows" tests windows
phase "build asan" build asan
phase "ctest asan" tests asan
# The fuzzer beside the ThreadSanitizer build: both finish, and either one
# failing fails the phase.
tsan_and_fuzz() {
  setsid make --no-print-directory fuzz FUZZ_RUNS="$fuzz_runs" >build/fuzz-make.log 2>&1 &
  local fuzz=$! status=0
  fuzz_session=$fuzz
  build tsan || status=$?
  wait "$fuzz" || { status=1; echo "the fuzzing run failed:"; }
  fuzz_session=
  cat build/fuzz-make.log
  return "$status"
}
phase "build tsan + fuzz ${fuzz_runs} runs" tsan_and_fuzz
phase "ctest tsan" tests tsan
[ "${NEMBO_WHOLE_MACHINE:-}" = 1 ] ||
  echo "skipped: the test that takes nearly all free memory (NEMBO_WHOLE_MACHINE=1 runs it)"
