#!/usr/bin/env bash
# Packs the shipped builds (presets dist-linux and dist-windows, already
# built) into dist/: the Windows zip, the Linux tarball, the Debian package,
# the build-info file (the source commit and the toolchain), nembo's source
# (the commit, as a tarball), Debian's source package of the GNU C Library
# version linked into the static program, and SHA256SUMS over all of them.
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

# The GNU C Library linked into the static program: the source package and
# version of the installed libc6-dev, whose libc.a the link read. The Debian
# package names it in Built-Using and its source goes beside the packages.
libc_dev=$(dpkg-query -W -f='${db:Status-Abbrev}|${source:Package}|${source:Version}' libc6-dev 2>/dev/null) || libc_dev=
case "$libc_dev" in
  'ii '*'|'?*'|'?*) IFS='|' read -r _ glibc_source glibc_version <<<"$libc_dev" ;;
  *) echo "dist: libc6-dev is not installed; the static program's C library comes from it" >&2; exit 1 ;;
esac

stage=build/dist-stage
rm -rf dist "$stage"

# The GNU C Library's source. The LGPL asks whoever hands out the static
# program to offer the source of the library version linked in: Debian's
# source package of that version (the .dsc and the tarballs it names) goes
# beside the packages. APT fetches it as this machine configures it (its
# sources, proxies and keys) and checks it against the archive's signed
# index; the index of source packages lives in a private APT state under
# the build tree, with deb-src entries derived from the machine's own
# entries, so the machine's APT state is left as it is. Files already
# fetched into the build tree are not fetched again. It is fetched before
# anything is packed: without it, dist/ stays empty.
glibc_dir=$PWD/build/glibc-source
apt_dir=$glibc_dir/apt
downloads=$glibc_dir/files
apt_log=$glibc_dir/apt.log
rm -rf "$apt_dir"
mkdir -p "$apt_dir/sources.list.d" "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial" "$downloads"
no_glibc_source() {
  echo "dist: $*" >&2
  echo "dist: the static program is not released without its C library's source ($glibc_source=$glibc_version)" >&2
  exit 1
}
apt_paths=$(apt-config shell apt_list Dir::Etc::SourceList/f apt_parts Dir::Etc::SourceParts/d) && eval "$apt_paths" &&
  [ -n "${apt_parts:-}" ] || no_glibc_source "apt-config cannot tell where APT's sources are configured"
# One-line entries: each "deb" line again as "deb-src", "deb-src" lines kept.
one_line_sources() {
  sed -n 's/^[[:space:]]*deb\([[:space:]]\)/deb-src\1/p; /^[[:space:]]*deb-src[[:space:]]/p' "$1" | awk '!seen[$0]++'
}
# deb822 stanzas: those of type deb or deb-src become deb-src, the rest as
# they are (Enabled: no, other fields and comments are kept).
deb822_sources() {
  awk 'tolower($1) == "types:" {
         n = split(tolower($0), types, /[[:space:]]+/); source = 0
         for (i = 2; i <= n; i++) if (types[i] == "deb" || types[i] == "deb-src") source = 1
         print(source ? "Types: deb-src" : $0); next }
       { print }' "$1"
}
if [ -f "$apt_list" ]; then one_line_sources "$apt_list" >"$apt_dir/sources.list"; fi
for f in "$apt_parts"*.list; do
  if [ -f "$f" ]; then one_line_sources "$f" >"$apt_dir/sources.list.d/${f##*/}"; fi
done
for f in "$apt_parts"*.sources; do
  if [ -f "$f" ]; then deb822_sources "$f" >"$apt_dir/sources.list.d/${f##*/}"; fi
done
grep -qsiE '^[[:space:]]*(deb-src[[:space:]]|types:[[:space:]]*deb-src$)' "$apt_dir/sources.list" "$apt_dir"/sources.list.d/* ||
  no_glibc_source "APT has no deb or deb-src entry in $apt_list or $apt_parts to fetch source packages from"
apt_private=(-o "Dir::Etc::SourceList=$apt_dir/sources.list" -o "Dir::Etc::SourceParts=$apt_dir/sources.list.d"
             -o "Dir::State::Lists=$apt_dir/lists" -o "Dir::Cache=$apt_dir/cache")
# APT downloads as its _apt user when it can write where the files go.
if [ "$(id -u)" -eq 0 ] && id _apt >/dev/null 2>&1; then chown _apt "$downloads"; fi
{ apt-get "${apt_private[@]}" update &&
  (cd "$downloads" && apt-get "${apt_private[@]}" source --download-only "$glibc_source=$glibc_version"); } >"$apt_log" 2>&1 ||
  { tail -n 20 "$apt_log" >&2; no_glibc_source "APT could not fetch $glibc_source=$glibc_version (build/glibc-source/apt.log)"; }
# The .dsc and every file its Checksums-Sha256 names, with that size and
# sum.
dsc=${glibc_source}_${glibc_version#*:}.dsc
[ -f "$downloads/$dsc" ] || no_glibc_source "APT fetched no $dsc"
grep -qxF "Source: $glibc_source" "$downloads/$dsc" && grep -qxF "Version: $glibc_version" "$downloads/$dsc" ||
  no_glibc_source "$dsc is not the source of $glibc_source $glibc_version"
glibc_files=()
while read -r sum size name; do
  [ -f "$downloads/$name" ] && [ "$(stat -c %s "$downloads/$name")" = "$size" ] &&
    [ "$(sha256sum <"$downloads/$name" | cut -d' ' -f1)" = "$sum" ] ||
    no_glibc_source "$name is not the file $dsc names (size $size, SHA-256 $sum)"
  glibc_files+=("$name")
done < <(sed -n '/^Checksums-Sha256:$/,/^[^ ]/s/^ \([0-9a-f]\{64\}\) \([0-9][0-9]*\) \([^ /]*\)$/\1 \2 \3/p' "$downloads/$dsc")
[ ${#glibc_files[@]} -gt 0 ] || no_glibc_source "$dsc names no file in Checksums-Sha256"

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
# The program carries glibc's code, so the package names the glibc source
# it was built with in Built-Using (Debian policy 7.8). CPack writes no such
# field: the control file gets it here, and dpkg-deb packs the same tree
# again, entries in name order, owned by root, every time the commit's.
deb=nembo_${version}_amd64.deb
rm -rf "$linux/cpack"
cpack --config "$linux/CPackConfig.cmake" >"$stage/cpack.log" 2>&1 ||
  { cat "$stage/cpack.log" >&2; exit 1; }
debtree=$stage/deb
dpkg-deb -R "$linux/cpack/$deb" "$debtree"
control=$debtree/DEBIAN/control
if grep -q '^Built-Using:' "$control"; then
  echo "dist: CPack's control file already has a Built-Using field" >&2; exit 1
fi
{ grep -v '^$' "$control"; echo "Built-Using: $glibc_source (= $glibc_version)"; } >"$stage/control"
install -m 644 "$stage/control" "$control"
settle "$debtree"
dpkg-deb --root-owner-group -Zgzip -z9 --build "$debtree" "dist/$deb" >/dev/null

# nembo's source: the commit, as git archive writes it. Given a commit,
# git archive stamps every entry with the commit's time; the settings that
# would change its bytes (line ends, attributes, modes) are fixed here.
src=nembo-$version-source.tar.gz
head_commit=$(git rev-parse --verify -q 'HEAD^{commit}') ||
  { echo "dist: the source tarball is made with git archive; run make dist in a git checkout" >&2; exit 1; }
git -c core.autocrlf=false -c core.attributesFile=/dev/null -c tar.umask=0022 \
    archive --format=tar --prefix="nembo-$version/" "$head_commit" | gzip -9 -n >"dist/$src"
if ! git diff --quiet HEAD -- 2>/dev/null; then
  echo "dist: $src holds the commit $head_commit, without the uncommitted changes the programs were built with"
fi

# The GNU C Library's source package, fetched above, beside the packages.
for f in "$dsc" "${glibc_files[@]}"; do install -m 644 "$downloads/$f" "dist/$f"; done

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

(cd dist && sha256sum "$win.zip" "$lin.tar.gz" "$deb" "$buildinfo" "$src" "$dsc" "${glibc_files[@]}" >SHA256SUMS)
echo "dist/ (SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH):"
cat dist/SHA256SUMS
