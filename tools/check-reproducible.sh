#!/bin/sh
# Builds the two shipped modules a second time in a separate tree and compares them byte
# for byte with the first build: a pilot's copy must be the same file whoever builds it.
set -eu
cd "$(dirname "$0")/.."
again=build/windows-again
cmake --preset windows -B "$again" >/dev/null
cmake --build "$again" -j 2 --target KESTREL_TIMER KESTREL >/dev/null
status=0
for file in KESTREL_TIMER.gau KESTREL.GAU; do
    if cmp -s "build/windows/modules/$file" "$again/modules/$file"; then
        echo "reproducible: $file is the same from two builds"
    else
        echo "reproducible: $file differs between two builds" >&2
        status=1
    fi
done
exit $status
