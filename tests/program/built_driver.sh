#!/usr/bin/env bash
# built_driver.sh PROGRAM ARGS...: runs another tree's whole-program test
# program, or exits 77 (CTest's skip) when that tree has not been built.
set -euo pipefail
driver=$1
shift
if [ ! -x "$driver" ]; then
  echo "skipped: $driver is not built (cmake --build --preset release builds it)"
  exit 77
fi
exec "$driver" "$@"
