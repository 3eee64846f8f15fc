#!/usr/bin/env bash
# Runs a Windows program under Wine with a private, quiet prefix inside the
# build tree, created on first use.
#
# The program's output goes through files: the first Wine process of a
# session starts Wine's own services, which inherit its standard handles and
# outlive it. Were those handles the caller's pipes, the caller would wait for
# the services as well as for the program.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
export WINEPREFIX="${NEMBO_WINEPREFIX:-$here/../build/wineprefix}"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  (
    flock 9
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      # Bounded: a prefix that cannot be made fails the run, not the clock.
      timeout 300 wineboot -i </dev/null >/dev/null 2>&1 || true
      timeout 60 wineserver -w </dev/null >/dev/null 2>&1 || true
    fi
  ) 9>"$WINEPREFIX.lock"
fi
# One server for a whole series of tests, detached from the caller's handles.
# It stays 30 s after its last program, so tests run back to back do not meet
# it on its way out.
keep_server() { wineserver -p30 </dev/null >/dev/null 2>&1 || true; }
keep_server

out=$(mktemp) err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT
for attempt in 1 2 3; do
  status=0
  wine "$@" >"$out" 2>"$err" || status=$?
  # A program that met the server shutting down never started; start it again.
  # So with a failure that wrote nothing at all: every program run here
  # writes something whenever it fails.
  if [ "$status" -ne 0 ] && [ ! -s "$out" ] && { grep -q '^wine client error' "$err" || [ ! -s "$err" ]; }; then
    timeout 60 wineserver -w </dev/null >/dev/null 2>&1 || true
    keep_server
    continue
  fi
  break
done
cat "$out"
cat "$err" >&2
exit "$status"
