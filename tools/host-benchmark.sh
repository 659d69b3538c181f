#!/bin/bash
# The host's benchmark: 100,000 clock updates with the trace written, in the optimized
# host on the twin and on the real .gau, and under wine where wine runs here. Prints the
# best of three wall-clock times for each, and whether 32-bit programs run through an
# emulator on this machine (they are then several times slower than on the processor).
set -euo pipefail
cd "$(dirname "$0")/.."
updates=${BENCHMARK_UPDATES:-100000}
host=build/native-release/host/kestrel-host
[ -x "$host" ] || { echo "host-benchmark: build the optimized host first (make native-release)" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
printf 'module KESTREL_TIMER\ngauge Digital_Clock\nset 336 1\nupdate %d\n' "$updates" >"$work/clock.scenario"

best_of_three() {
    local best=""
    for _ in 1 2 3; do
        local start end
        start=$(date +%s.%N)
        "$@" >/dev/null 2>"$work/stderr" || { cat "$work/stderr" >&2; return 1; }
        end=$(date +%s.%N)
        best=$(awk -v a="$end" -v b="$start" -v c="$best" 'BEGIN { t = a - b; if (c == "" || t < c) c = t; printf "%.2f", c }')
    done
    echo "$best"
}

if [ -e /proc/sys/fs/binfmt_misc/kestrel-i386 ] && ! grep -q '^disabled' /proc/sys/fs/binfmt_misc/kestrel-i386; then
    echo "32-bit programs run here through qemu's user-mode emulator"
fi
echo "$updates clock updates with the trace written (best of three):"
echo "  native host, twin:      $(best_of_three "$host" run "$work/clock.scenario" --trace "$work/t.jsonl" \
    --modules build/native-release/modules) s ($(stat -c %s "$work/t.jsonl") bytes of trace)"
echo "  native host, real .gau: $(best_of_three "$host" run "$work/clock.scenario" --trace "$work/t.jsonl" \
    --real-module --modules build/windows/modules) s"
if ./tools/wine-works.sh build/windows/host/kestrel-host.exe --help 2>"$work/wine"; then
    echo "  under wine, real .gau:  $(best_of_three ./tools/wine-run.sh build/windows/host/kestrel-host.exe run \
        "$work/clock.scenario" --trace "$work/t.jsonl" --modules build/windows/modules) s"
else
    echo "  under wine: not measured ($(cat "$work/wine"))"
fi
