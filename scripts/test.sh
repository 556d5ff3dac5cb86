#!/usr/bin/env bash
# Sets up the machine, builds every configuration and runs their test
# suites, then prints one summary. Exits non-zero when anything fails.
#   native       x86_64 Linux: module, stand-ins, tests, benchmarks (built, not timed)
#   native-asan  the same under AddressSanitizer + UndefinedBehaviorSanitizer
#   i386         32-bit x86 Linux; tests run under qemu-i386
#   win32        i686 Windows: Quillomark.QPX, checked as a PE file
#   fuzz         clang + libFuzzer: each fuzz target runs 15 s (scripts/fuzz.sh runs them longer)
#   native-tsan  the host's, the render's and the command line's unit suites under ThreadSanitizer
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

bash scripts/setup.sh || { echo "setup failed"; exit 1; }

jobs=$(nproc)
presets=(native native-asan i386 win32 fuzz native-tsan)
declare -A configure_args=([fuzz]="-DQM_FUZZ_SECONDS=15")
declare -A status
overall=0
logdir="$root/build/logs"
mkdir -p "$logdir"

for preset in "${presets[@]}"; do
  dir="build/$preset"
  rm -f "$logdir/$preset-"*
  echo "=== $preset: configure and build"
  # shellcheck disable=SC2086
  if ! cmake --preset "$preset" ${configure_args[$preset]:-} >"$logdir/$preset-configure.log" 2>&1; then
    tail -n 40 "$logdir/$preset-configure.log"
    status[$preset]="configure failed"; overall=1; continue
  fi
  # Each build preset names what its tests need (all of it, but for native-tsan).
  if ! cmake --build --preset "$preset" -j"$jobs" >"$logdir/$preset-build.log" 2>&1; then
    grep -E -B2 -A12 'error|FAILED' "$logdir/$preset-build.log" | head -n 80
    status[$preset]="build failed"; overall=1; continue
  fi
  echo "=== $preset: test"
  rm -rf "$dir/test-results"
  if ctest --preset "$preset" --output-on-failure -j2 2>&1 | tee "$logdir/$preset-test.log" | grep -E '^\s*[0-9]+/[0-9]+ Test|tests passed|tests failed|Errors while'; then :; fi
  if grep -q '100% tests passed' "$logdir/$preset-test.log"; then
    status[$preset]="passed"
  else
    status[$preset]="tests failed"; overall=1
  fi
done

for preset in "${presets[@]}"; do
  echo "${status[$preset]:-not run}" >"$logdir/$preset-status"
done
echo
echo "=== Summary"
/usr/bin/python3 scripts/test_summary.py "$root/build" "${presets[@]}" || overall=1
exit $overall
