#!/usr/bin/env bash
# Runs a Windows program under Wine with a private, quiet prefix.
# The prefix lives in the build tree and is created on first use.
set -euo pipefail
: "${WINEPREFIX:=${NEMBO_WINEPREFIX:-$PWD/.wine}}"
export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  (flock 9; [ -f "$WINEPREFIX/system.reg" ] || wineboot -i >/dev/null 2>&1; wineserver -w) 9>"$WINEPREFIX.lock"
fi
exec wine "$@"
