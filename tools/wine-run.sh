#!/bin/sh
# Runs a Windows program of this build under wine, quietly, with a wine prefix that
# lives in the build tree (created on first use, which takes about ten seconds).
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
: "${WINEPREFIX:=$here/build/wineprefix}"
export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$WINEPREFIX"
exec wine "$@"
