#!/usr/bin/env bash
# Runs a Windows program under Wine, quietly, in a Wine prefix of the build's
# own (made on first use), with a UTF-8 locale so that non-ASCII arguments
# reach it whole.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
export WINEPREFIX=${WINEPREFIX:-$here/build/wineprefix}
export WINEDEBUG=-all
export LC_ALL=C.UTF-8
# The prefix is made once, quietly: no server of an older one left running,
# and wait until this one is whole.
if [ ! -d "$WINEPREFIX" ]; then
  /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
  /usr/lib/wine/wine64 wineboot --init >/dev/null 2>&1
  /usr/lib/wine/wineserver -w
fi
exec /usr/lib/wine/wine64 "$@"
