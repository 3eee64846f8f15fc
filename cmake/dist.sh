#!/usr/bin/env bash
# Packs the shipped builds (presets dist-linux and dist-windows, already
# built) into dist/: the Windows zip, the Linux tarball, the Debian package,
# the build-info file (the source commit and the toolchain) and SHA256SUMS
# over the four.
#
# The packages are rebuilt byte for byte from the same commit and toolchain,
# wherever the checkout lies: every time stamp is the last commit's time
# (SOURCE_DATE_EPOCH), entries are added in name order with fixed owners and
# modes, and nothing of the checkout's path or of the clock goes in.
set -euo pipefail
cd "$(dirname "$0")/.."

linux=build/dist-linux
windows=build/dist-windows
for f in "$linux/nembo" "$windows/nembo.exe" "$linux/CPackConfig.cmake"; do
  [ -f "$f" ] || { echo "dist: $f is missing; build the dist-linux and dist-windows presets first" >&2; exit 1; }
done

if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH=$(git log -1 --format=%ct) ||
    { echo "dist: not a git checkout; set SOURCE_DATE_EPOCH" >&2; exit 1; }
fi
export SOURCE_DATE_EPOCH TZ=UTC LC_ALL=C
umask 022

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' "$linux/CMakeCache.txt")
[ -n "$version" ] || { echo "dist: no project version in $linux/CMakeCache.txt" >&2; exit 1; }

stage=build/dist-stage
rm -rf dist "$stage"
mkdir -p dist "$stage"

# Every file and folder of a staged tree gets the commit's time.
settle() { find "$1" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +; }

# Each package carries nembo's licence and the notices of what its program
# links in, and only those: both programs carry libstdc++, libgcc and
# {fmt}; nembo.exe the mingw-w64 runtime and winpthreads, the static Linux
# program the GNU C Library.
notices=packaging/notices
windows_notices=(libstdc++-libgcc.txt mingw-w64.txt fmt.txt GPL-3.txt)
linux_notices=(libstdc++-libgcc.txt glibc.txt fmt.txt GPL-3.txt LGPL-2.1.txt)

# Windows: nembo.exe, and the guide, the licence and the notices with CRLF
# line ends, in one folder.
win=nembo-$version-windows-x86_64
mkdir -p "$stage/$win/notices"
install -m 755 "$windows/nembo.exe" "$stage/$win/nembo.exe"
crlf() { sed 's/$/\r/' "$1" >"$2" && chmod 644 "$2"; }
crlf packaging/guide.txt "$stage/$win/guide.txt"
crlf LICENSE "$stage/$win/LICENSE.txt"
for n in "${windows_notices[@]}"; do crlf "$notices/$n" "$stage/$win/notices/$n"; done
settle "$stage/$win"
(cd "$stage" && find "$win" | sort | zip -q -X -9 -@ "../../dist/$win.zip")

# Linux: nembo, the same guide, the licence and the notices.
lin=nembo-$version-linux-x86_64
mkdir -p "$stage/$lin/notices"
install -m 755 "$linux/nembo" "$stage/$lin/nembo"
install -m 644 packaging/guide.txt "$stage/$lin/guide.txt"
install -m 644 LICENSE "$stage/$lin/LICENSE"
for n in "${linux_notices[@]}"; do install -m 644 "$notices/$n" "$stage/$lin/notices/$n"; done
settle "$stage/$lin"
tar -C "$stage" --sort=name --format=gnu --owner=0 --group=0 --numeric-owner \
    --mtime="@$SOURCE_DATE_EPOCH" -cf - "$lin" | gzip -9 -n >"dist/$lin.tar.gz"

# Debian: CPack from the install rules, time stamps from SOURCE_DATE_EPOCH.
rm -rf "$linux/cpack"
cpack --config "$linux/CPackConfig.cmake" >"$stage/cpack.log" 2>&1 ||
  { cat "$stage/cpack.log" >&2; exit 1; }
cp "$linux/cpack/nembo_${version}_amd64.deb" dist/

# The build-info file: the source commit and the installed version of every
# package of the toolchain record (packaging/toolchain.txt), read with
# dpkg-query. Nothing in it depends on the checkout's path or the clock.
# Where this machine's toolchain differs from the record, say so, one line
# per package, and go on: the packages may then differ from the release's.
record=packaging/toolchain.txt
buildinfo=nembo-$version-buildinfo.txt
commit=$(git rev-parse HEAD 2>/dev/null) || commit=unknown
if [ "$commit" != unknown ] && ! git diff --quiet HEAD -- 2>/dev/null; then
  commit="$commit with uncommitted changes"
fi
installed_version() {
  dpkg-query -W -f='${db:Status-Abbrev} ${Version}\n' "$1" 2>/dev/null | sed -n 's/^ii  *//p' | head -n 1
}
{
  echo "# nembo $version release packages: the source and the toolchain that made them."
  echo "# The same commit, built by make dist on Debian 12 with these package"
  echo "# versions (apt-get install package=version), gives the files of"
  echo "# SHA256SUMS byte for byte."
  echo "Source: nembo $version"
  echo "Commit: $commit"
  echo "Source-Date-Epoch: $SOURCE_DATE_EPOCH"
  echo "Toolchain:"
  sed -n 's/^\([^#][^=]*\)=.*/\1/p' "$record" | while read -r package; do
    echo "$package=$(installed_version "$package" | grep . || echo none)"
  done
} >"dist/$buildinfo"
differences=$(join -t= -j1 <(grep -v '^#' "$record" | LC_ALL=C sort -t= -k1,1) \
                <(sed -n '/^Toolchain:$/,$p' "dist/$buildinfo" | grep = | LC_ALL=C sort -t= -k1,1) |
              awk -F= '$2 != $3 { printf "dist: toolchain differs from %s: %s %s recorded, %s installed\n", r, $1, $2, $3 }' r="$record")
if [ -n "$differences" ]; then
  echo "$differences"
  echo "dist: the packages may differ from the release's without the source being different"
fi

(cd dist && sha256sum "$win.zip" "$lin.tar.gz" "nembo_${version}_amd64.deb" "$buildinfo" >SHA256SUMS)
echo "dist/ (SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH):"
cat dist/SHA256SUMS
