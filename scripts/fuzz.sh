#!/usr/bin/env bash
# Runs every fuzz target for SECONDS each (default 60), two at a time, then
# prints each target's executions and coverage. Exits non-zero when a target
# found a fault: its input is in build/fuzz/fuzz_artifacts/<target>/.
#   bash scripts/fuzz.sh [SECONDS]
# A fault once fixed belongs in tests/fuzz_regressions/<target>/ (minimise it
# first: build/fuzz/bin/fuzz_<target> -minimize_crash=1 -runs=10000 FILE), so
# that every build's tests replay it.
set -uo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
log=build/fuzz/fuzz.log

bash scripts/setup.sh || exit 1
cmake --preset fuzz -DQM_FUZZ_SECONDS="$seconds" >/dev/null || exit 1
cmake --build build/fuzz -j2 || exit 1
echo "=== fuzz: every target for $seconds s"
ctest --test-dir build/fuzz -V -j2 >"$log" 2>&1
status=$?
/usr/bin/python3 - "$log" <<'PY'
import re, sys
names, runs, cov = {}, {}, {}
for line in open(sys.argv[1], errors="replace"):
    m = re.match(r"(\d+): Test command: \S*/(fuzz_\w+)", line)
    if m:
        names[m.group(1)] = m.group(2)
    m = re.match(r"(\d+): stat::number_of_executed_units: (\d+)", line)
    if m:
        runs[m.group(1)] = int(m.group(2))
    m = re.match(r"(\d+): #\d+\s+\w+\s+cov: (\d+) ft: (\d+) corp: (\d+)", line)
    if m:
        cov[m.group(1)] = m.group(2, 3, 4)
total = 0
for n, name in sorted(names.items(), key=lambda kv: kv[1]):
    c = cov.get(n, ("?", "?", "?"))
    total += runs.get(n, 0)
    print(f"  {name:24s} {runs.get(n, 0):10d} runs  cov: {c[0]:>5s}  ft: {c[1]:>6s}  corpus: {c[2]} inputs")
print(f"  {'all targets':24s} {total:10d} runs")
PY
grep -E 'tests passed|tests failed|Failed|\*\*\*' "$log" | grep -v '^[0-9]*: ' || true
exit $status
