#!/usr/bin/env bash
# built_driver.sh PROGRAM SOURCE_ROOT ARGS...: runs the release tree's
# whole-program test program against this tree's nembo. It fails, never
# skips, when that program is not built or was built from other sources than
# the ones here: the digest the release tree wrote beside it
# (PROGRAM.sources, of tests/program and platform) must match those files
# now.
set -euo pipefail
driver=$1
root=$2
shift 2
if [ ! -x "$driver" ] || [ ! -f "$driver.sources" ]; then
  echo "FAILED: $driver is not built; make test builds the release tree first (cmake --build --preset release)" >&2
  exit 1
fi
now=$(cd "$root" && LC_ALL=C sha256sum $(ls tests/program/*.cpp tests/program/*.hpp platform/*.cpp platform/*.hpp) |
  LC_ALL=C sort -k2)
built=$(LC_ALL=C sort -k2 "$driver.sources")
if [ "$now" != "$built" ]; then
  echo "FAILED: $driver was built from other sources than $root's; rebuild the release tree. The differences:" >&2
  diff <(echo "$built") <(echo "$now") >&2 || true
  exit 1
fi
exec "$driver" "$@"
