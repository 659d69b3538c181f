#!/bin/bash
# The host's benchmark: 100,000 updates of each gauge, with the trace written and without,
# in the optimized host on the twin and on the real .gau, and under wine where wine runs
# here; best of three wall-clock times. Then the module's own entries, by Google
# Benchmark: the clock's update, and AP's and AUTOBRAKE's updates and clicks.
# With --instructions: instructions per update instead, counted by callgrind, or by
# qemu-i386 with tools/instruction_count.c where valgrind cannot run the 32-bit host.
set -euo pipefail
cd "$(dirname "$0")/.."
updates=${BENCHMARK_UPDATES:-100000}
host=build/native-release/host/kestrel-host
[ -x "$host" ] || { echo "host-benchmark: build the optimized host first (make native-release)" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# One scenario per gauge: the clock at rate 1, AP engaged, AUTOBRAKE at rest.
write_scenarios() {
    printf 'module KESTREL_TIMER\ngauge Digital_Clock\nset 336 1\nupdate %d\n' "$1" >"$2/clock.scenario"
    printf 'module KESTREL\ngauge AP\nset 116 250\nclick 480 55\nupdate %d\n' "$1" >"$2/ap.scenario"
    printf 'module KESTREL\ngauge AUTOBRAKE\nupdate %d\n' "$1" >"$2/autobrake.scenario"
}

if [ "${1:-}" = --instructions ]; then
    # Instructions of a run of 2,000 updates less those of 1,000: start-up cancels out.
    if valgrind --tool=none "$host" --help >/dev/null 2>&1; then
        counter=callgrind
    elif command -v qemu-i386 >/dev/null && gcc -shared -fPIC -O2 tools/instruction_count.c -o "$work/count.so"; then
        counter=qemu
    else
        echo "host-benchmark: neither valgrind nor qemu-i386 can count the 32-bit host's instructions here" >&2
        exit 2
    fi
    # Runs a command and prints the instructions of all its processes, and how many were counted.
    count() {
        rm -f "$work"/counted.*
        if [ $counter = callgrind ]; then
            valgrind --tool=callgrind --trace-children=yes --callgrind-out-file="$work/counted.%p" "$@" \
                >/dev/null 2>"$work/stderr" || { cat "$work/stderr" >&2; return 1; }
            awk '/^summary:/ { n += $2; files++ } END { print n, files }' "$work"/counted.*
        else
            local wrap=(qemu-i386 -plugin "$work/count.so")
            # The bench is a 64-bit program; its 32-bit child host takes the plugin from QEMU_PLUGIN.
            [ "$1" = build/tools/host/kestrel-bench ] && wrap=(qemu-x86_64 -plugin "$work/count.so")
            QEMU_PLUGIN="file=$work/count.so" INSTRUCTION_COUNT_FILE="$work/counted" "${wrap[@]}" "$@" \
                >/dev/null 2>"$work/stderr" || { cat "$work/stderr" >&2; return 1; }
            cat "$work"/counted.* | awk '{ n += $2; files++ } END { print n, files }'
        fi
    }
    echo "instructions per update ($counter; 2,000 updates less 1,000):"
    for n in 1000 2000; do mkdir -p "$work/$n" && write_scenarios $n "$work/$n"; done
    per_update() {  # gauge, then the command with SCENARIO for the scenario file
        local gauge=$1 totals=() processes=""
        shift
        for n in 1000 2000; do
            local run=("${@/SCENARIO/$work/$n/$gauge.scenario}")
            read -r total counted < <(count "${run[@]}")
            totals+=("$total")
            processes+=" $counted"
        done
        echo "$(( (totals[1] - totals[0]) / 1000 )) (processes counted:$processes)"
    }
    bench=build/tools/host/kestrel-bench
    for gauge in clock ap; do
        printf '  %-6s real .gau, no trace   %s\n' $gauge "$(per_update $gauge "$host" run SCENARIO --real-module --modules build/windows/modules)"
        printf '  %-6s real .gau, trace      %s\n' $gauge "$(per_update $gauge "$host" run SCENARIO --trace "$work/t.jsonl" --real-module --modules build/windows/modules)"
        printf '  %-6s twin, no trace        %s\n' $gauge "$(per_update $gauge "$host" run SCENARIO --modules build/native-release/modules --pictures build/windows/modules)"
        if [ -x $bench ]; then
            printf '  %-6s bench+host, .gau      %s\n' $gauge "$(per_update $gauge $bench run --native-gau --out "$work/out" SCENARIO)"
        fi
    done
    exit 0
fi
write_scenarios "$updates" "$work"

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
wine=0
if ./tools/wine-works.sh build/windows/host/kestrel-host.exe --help 2>"$work/wine"; then wine=1; fi
echo "$updates updates of each gauge (best of three, seconds; trace size for the real .gau):"
printf '  %-11s %-14s %10s %10s %10s %12s\n' gauge trace twin ".gau" wine "trace bytes"
for gauge in clock ap autobrake; do
    for traced in no yes; do
        trace=()
        [ "$traced" = yes ] && trace=(--trace "$work/t.jsonl")
        rm -f "$work/t.jsonl"
        twin=$(best_of_three "$host" run "$work/$gauge.scenario" "${trace[@]}" --modules build/native-release/modules \
            --pictures build/windows/modules)
        gau=$(best_of_three "$host" run "$work/$gauge.scenario" "${trace[@]}" --real-module --modules build/windows/modules)
        size=-
        [ "$traced" = yes ] && size=$(stat -c %s "$work/t.jsonl")
        under_wine="not run"
        if [ $wine = 1 ]; then
            under_wine=$(best_of_three ./tools/wine-run.sh build/windows/host/kestrel-host.exe run "$work/$gauge.scenario" \
                "${trace[@]}" --modules build/windows/modules)
        fi
        printf '  %-11s %-14s %10s %10s %10s %12s\n' "$gauge" "$traced" "$twin" "$gau" "$under_wine" "$size"
    done
done
[ $wine = 1 ] || echo "  under wine: not measured ($(cat "$work/wine"))"
for program in build/tools/tests/clock_benchmark build/tools/tests/panel_benchmark; do
    if [ -x "$program" ]; then
        echo
        "$program" --benchmark_min_time=0.2
    else
        echo "host-benchmark: $program is not built (make tools)" >&2
    fi
done
