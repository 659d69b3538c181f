#!/bin/sh
# Tells whether wine can run a 32-bit Windows program of this build here, within a time
# limit: some machines run 32-bit code only through an emulator under which wine's set-up
# never completes. Exit 0 when it works; otherwise say why on stderr and exit 1.
set -u
program=${1:?usage: wine-works.sh PROGRAM.exe [ARGS...]}
shift
limit=${KESTREL_WINE_PROBE_SECONDS:-90}
if ! command -v wine >/dev/null 2>&1; then
    echo "wine-works: wine is not installed" >&2
    exit 1
fi
here=$(cd "$(dirname "$0")" && pwd)
# Where 32-bit programs run only through qemu's user-mode emulator (see enable-i386.sh),
# wine's own set-up crashes with a segmentation fault after minutes of work; say so at once.
if [ -z "${KESTREL_WINE_PROBE_UNDER_EMULATOR:-}" ] && [ -e /proc/sys/fs/binfmt_misc/kestrel-i386 ] \
    && ! grep -q '^disabled' /proc/sys/fs/binfmt_misc/kestrel-i386; then
    echo "wine-works: 32-bit programs run here only through qemu's emulator, under which wine does not start" >&2
    exit 1
fi
timeout -k 5 "$limit" "$here/wine-run.sh" "$program" "$@" >/dev/null 2>&1
status=$?
if [ "$status" -ne 0 ]; then
    if [ "$status" -eq 124 ] || [ "$status" -eq 137 ]; then
        echo "wine-works: wine did not finish a trivial run within ${limit}s" >&2
    else
        echo "wine-works: wine failed to run $program (status $status)" >&2
    fi
    WINEPREFIX="${WINEPREFIX:-$here/../build/wineprefix}" timeout 10 wineserver -k >/dev/null 2>&1
    exit 1
fi
exit 0
