#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks to build and test nembo.
# As root it runs apt-get; otherwise it prints the one command to run.
set -euo pipefail

packages=(
  cmake ninja-build make g++ libfmt-dev libgtest-dev libbenchmark-dev
  g++-mingw-w64-x86-64-posix wine wine64
  clang-19 llvm-19 libclang-rt-19-dev
)
# `install-deps.sh dist`: also what `make dist` packs with and what its
# check (tests/dist/check-dist.sh) unpacks with.
if [ "${1:-}" = dist ]; then
  packages+=(git zip unzip dpkg-dev)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "nembo needs these packages; run as root:" >&2
  echo "  apt-get update && apt-get install -y --no-install-recommends ${missing[*]}" >&2
  exit 1
fi

export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
