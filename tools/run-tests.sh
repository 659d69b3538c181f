#!/usr/bin/env bash
# Runs every test of the three builds and ends with one line that sums them up:
# the native suite (twin and real .gau), the tools, the reproducibility check, and the
# Windows suite under wine where wine runs here.
set -uo pipefail
cd "$(dirname "$0")/.."
passed=0
failed=0
log=$(mktemp)
trap 'rm -f "$log"' EXIT

run_ctest() {
    ctest --preset "$1" 2>&1 | tee "$log"
    local summary
    summary=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -n 1)
    if [ -z "$summary" ]; then
        echo "run-tests: ctest --preset $1 printed no summary" >&2
        failed=$((failed + 1))
        return
    fi
    local failures total
    failures=$(echo "$summary" | sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\1/')
    total=$(echo "$summary" | sed -E 's/.* out of ([0-9]+).*/\1/')
    passed=$((passed + total - failures))
    failed=$((failed + failures))
}

run_ctest tools
run_ctest native
if ./tools/check-reproducible.sh; then passed=$((passed + 1)); else failed=$((failed + 1)); fi
# The fuzz targets' smoke run: committed regressions and seeds, then a few thousand fresh
# inputs per target. One result: any finding fails it.
if ./fuzz/run-fuzz.sh --smoke build/fuzz build/fuzz32; then passed=$((passed + 1)); else failed=$((failed + 1)); fi
if ./tools/wine-works.sh build/windows/tests/kestrel_tests.exe --gtest_list_tests; then
    run_ctest windows
else
    echo "run-tests: wine cannot run 32-bit Windows programs on this machine, so the Windows"
    echo "run-tests: build of the suite was built but not run; the real .gau files were driven"
    echo "run-tests: by the native host above (kestrel_tests_real_modules, *_real_module)."
fi
echo "kestrel: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
