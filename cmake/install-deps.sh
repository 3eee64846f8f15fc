#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks for one Makefile target, and
# nothing more: the native program needs a compiler and {fmt}; the Windows
# build adds the mingw-w64 cross compiler; the tests add Wine, GoogleTest,
# LLVM's disassembler and the fuzzer's runtime; the release
# packages add the archivers and the tools their check reads them with.
# As root it runs apt-get; otherwise it prints the one command to run.
#   install-deps.sh build|windows|bench|test|dist
set -euo pipefail

native=(cmake ninja-build make g++ libfmt-dev clang-19)  # clang-19 builds the APX solver
windows=(g++-mingw-w64-x86-64-posix)
bench=(libgtest-dev)  # the release tree, which holds the benchmark, builds the tests too
test=(wine wine64 llvm-19 libclang-rt-19-dev)
# What make dist packs with, and what its check unpacks and reads with
# (lintian and man-db for the Debian package and its manual page,
# llvm-19's llvm-readobj-19 for nembo.exe's imports and version resource).
dist=(git zip unzip dpkg-dev file lintian man-db llvm-19)

case "${1:-test}" in
  build) packages=("${native[@]}") ;;
  windows) packages=("${native[@]}" "${windows[@]}") ;;
  bench) packages=("${native[@]}" "${bench[@]}") ;;
  test) packages=("${native[@]}" "${windows[@]}" "${bench[@]}" "${test[@]}") ;;
  dist) packages=("${native[@]}" "${windows[@]}" "${dist[@]}") ;;
  *) echo "usage: $0 build|windows|bench|test|dist" >&2; exit 2 ;;
esac

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
