#!/usr/bin/env bash
# The release packages, checked as a moderator and a user meet them:
#  - `make dist` in two fresh clones of this commit, at two different paths,
#    gives byte-identical files, every one of them in SHA256SUMS;
#  - the zip's nembo.exe names the project version in its version resource,
#    carries the repository's application manifest and prints the same help
#    screen under Wine as the tarball's nembo;
#  - the guide is the repository's, with CRLF line ends in the zip;
#  - the Linux program is a static position-independent executable that
#    needs no library at all, and runs in an empty root (as root, in a
#    mount namespace of its own), the same with a locale the machine lacks;
#  - the Debian package depends on nothing and names the glibc it was built
#    with in Built-Using;
#  - as root, the Debian package installs /usr/bin/nembo, which runs, and
#    removes without leaving a file behind.
#  - the zip and the tarball carry the licence and their program's notices,
#    the Debian package a machine-readable copyright file with them;
#  - lintian finds no error and no warning in the Debian package; its
#    changelog and manual page are gzip -n, the page renders without a
#    warning and lists exactly the options of nembo --help;
#  - the build-info file is in SHA256SUMS and names HEAD and the version of
#    every package of packaging/toolchain.txt;
#  - nembo.exe imports only what packaging/windows-imports.txt lists;
#  - the source beside the packages: nembo's source tarball is HEAD, and
#    make build in it, unpacked into an empty folder, gives the tarball's
#    nembo byte for byte; Debian's glibc source package is the version of
#    the build-info file and unpacks; the glibc notice names both.
# A check whose tool fails, or whose input is empty, fails.
# Only committed work is checked: the clones are of HEAD.
set -euo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
rev=$(git -C "$repo" rev-parse HEAD)
started=$(date +%s)

work=$(mktemp -d "${TMPDIR:-/tmp}/nembo-dist.XXXXXX")
installed_here=0
cleanup() {
  if [ "$installed_here" -eq 1 ]; then dpkg --purge nembo >/dev/null 2>&1 || true; fi
  rm -rf --one-file-system "$work"
}
trap cleanup EXIT

passed=0 failed=0 skipped=0
pass() { echo "  ok: $*"; passed=$((passed + 1)); }
fail() { echo "  FAILED: $*"; failed=$((failed + 1)); }
skip() { echo "  skipped: $*"; skipped=$((skipped + 1)); }
finish() {
  echo "dist check took $(( $(date +%s) - started )) s"
  echo "dist: $passed passed, $failed failed, $skipped skipped"
  if [ "$failed" -eq 0 ]; then exit 0; fi
  exit 1
}

# --- two clones, two paths --------------------------------------------------
one=$work/one/nembo
two=$work/second/clone-b/nembo
for clone in "$one" "$two"; do
  echo "make dist in a fresh clone of $rev at $clone"
  git clone -q --no-checkout "$repo" "$clone"
  git -C "$clone" checkout -q "$rev"
  if ! make -C "$clone" --no-print-directory dist >"$clone.log" 2>&1; then
    tail -n 40 "$clone.log"
    fail "make dist in $clone"
    finish
  fi
done

echo "dist/ of the first clone:"
(cd "$one/dist" && ls -l --time-style=+ -- * | sed 's/^/    /' && sed 's/^/    /' SHA256SUMS)
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' "$one/build/dist-linux/CMakeCache.txt")
zip=nembo-$version-windows-x86_64.zip
tgz=nembo-$version-linux-x86_64.tar.gz
deb=nembo_${version}_amd64.deb
buildinfo=nembo-$version-buildinfo.txt
src=nembo-$version-source.tar.gz
# The C library linked in: libc6-dev's version in the build-info file.
libc_version=$(sed -n 's/^libc6-dev=//p' "$one/dist/$buildinfo" 2>/dev/null | head -n 1) || libc_version=
dsc=glibc_${libc_version#*:}.dsc

echo "the same bytes from both clones"
names=$(cd "$one/dist" && ls)
ok=1
[ "$names" = "$(cd "$two/dist" && ls)" ] || { echo "    the clones' dist/ hold different files"; ok=0; }
for f in "$zip" "$tgz" "$deb" "$buildinfo" "$src" "$dsc" SHA256SUMS; do
  grep -qxF -- "$f" <<<"$names" || { echo "    $f is not in dist/"; ok=0; }
done
for f in $names; do
  cmp -s "$one/dist/$f" "$two/dist/$f" || { echo "    $f differs"; ok=0; }
done
if [ "$ok" -eq 1 ]; then
  pass "dist/ is identical from $one and $two: $(echo "$names" | wc -l) files, the packages, the build-info file and both sources among them"
else
  fail "the clones' dist/ differ"; diff "$one/dist/SHA256SUMS" "$two/dist/SHA256SUMS" || true
fi
# Every file of dist/ but SHA256SUMS itself is listed once, with its sum.
listed=$(sed -E 's/^[0-9a-f]{64}  //' "$one/dist/SHA256SUMS" | LC_ALL=C sort)
present=$({ grep -vx SHA256SUMS <<<"$names" || true; } | LC_ALL=C sort)
malformed=$(grep -cvE '^[0-9a-f]{64}  [^ /]+$' "$one/dist/SHA256SUMS" || true)
if [ -z "$present" ] || [ "$listed" != "$present" ] || [ "$malformed" -ne 0 ]; then
  fail "SHA256SUMS does not list each file of dist/ once: not listed: $(comm -13 <(echo "$listed") <(echo "$present") | tr '\n' ' '); listed, not in dist/ or twice: $(comm -23 <(echo "$listed") <(echo "$present") | tr '\n' ' '); $malformed malformed lines"
elif ! (cd "$one/dist" && sha256sum --quiet --strict -c SHA256SUMS); then
  fail "SHA256SUMS does not match the files of dist/"
else
  pass "SHA256SUMS lists every file of dist/ once, with its sum"
fi

# --- what the archives hold -------------------------------------------------
x=$work/unpacked
mkdir -p "$x/zip" "$x/tgz"
# What cannot be unpacked fails here, and every check that reads it after.
unzip -q "$one/dist/$zip" -d "$x/zip" || fail "unzip cannot unpack $zip"
tar -xzf "$one/dist/$tgz" -C "$x/tgz" || fail "tar cannot unpack $tgz"
exe=$x/zip/nembo-$version-windows-x86_64/nembo.exe
elf=$x/tgz/nembo-$version-linux-x86_64/nembo
if [ ! -f "$exe" ] || [ ! -f "$elf" ]; then
  fail "the zip's nembo.exe or the tarball's nembo is missing"
elif grep -qaF "$work" "$exe" "$elf"; then
  fail "a build path is in the shipped programs"
else
  pass "no build path in nembo.exe or nembo"
fi

echo "the guide"
win_guide=$x/zip/nembo-$version-windows-x86_64/guide.txt
if [ "$(grep -c $'\r$' "$win_guide")" -eq "$(wc -l <"$win_guide")" ] &&
   tr -d '\r' <"$win_guide" | cmp -s - "$repo/packaging/guide.txt" &&
   cmp -s "$x/tgz/nembo-$version-linux-x86_64/guide.txt" "$repo/packaging/guide.txt"; then
  pass "the zip's guide is packaging/guide.txt with CRLF line ends, the tarball's the same with LF"
else
  fail "the packed guides are not packaging/guide.txt"
fi

# The bytes of the resource of one type in nembo.exe, from the hex columns
# of llvm-readobj-19's dump, written out raw.
resource_bytes() {
  llvm-readobj-19 --coff-resources "$exe" | perl -e '
    my ($want, $in, $hex) = (shift, 0, "");
    while (<STDIN>) {
      $in = $1 eq $want if /^\s*Type: (\S+)/;
      $hex .= join "", split / /, $1 if $in && /^\s+[0-9A-F]{4}: ((?:[0-9A-F]{2,8} ?)+)\s+\|/;
    }
    print pack "H*", $hex;' "$1"
}

echo "the version resource of nembo.exe (llvm-readobj-19 --coff-resources)"
# Read as the VERSIONINFO block: its fixed version numbers and its strings
# (UTF-16 keys and values).
resource=$({ resource_bytes VERSIONINFO || true; } | perl -e '
  my $b = do { local $/; <STDIN> };
  my $fixed = index $b, pack("V", 0xFEEF04BD);
  if ($fixed >= 0) {
    my ($sv, $fms, $fls, $pms, $pls) = unpack "V5", substr($b, $fixed + 4, 20);
    printf "FILEVERSION %d.%d.%d.%d\n", $fms >> 16, $fms & 0xffff, $fls >> 16, $fls & 0xffff;
    printf "PRODUCTVERSION %d.%d.%d.%d\n", $pms >> 16, $pms & 0xffff, $pls >> 16, $pls & 0xffff;
  }
  my @words = grep { length } split /\0+/, join "", map { $_ >= 32 && $_ < 127 ? chr $_ : "\0" } unpack "v*", $b;
  for my $i (0 .. $#words - 1) {
    print "$words[$i]: $words[$i + 1]\n"
      if $words[$i] =~ /^(FileDescription|FileVersion|ProductName|ProductVersion|OriginalFilename)$/;
  }')
echo "$resource" | sed 's/^/    /'
expected=$(printf '%s\n' "FILEVERSION $version.0" "PRODUCTVERSION $version.0" "FileVersion: $version" \
  "ProductName: nembo" "ProductVersion: $version" "OriginalFilename: nembo.exe")
if [ -z "$(comm -13 <(echo "$resource" | sort) <(echo "$expected" | sort))" ] &&
   echo "$resource" | grep -q '^FileDescription: .'; then
  pass "nembo.exe's version resource: version $version, product nembo, nembo.exe, a description"
else
  fail "nembo.exe's version resource lacks: $(comm -13 <(echo "$resource" | sort) <(echo "$expected" | sort) | tr '\n' ';')"
fi

echo "the application manifest of nembo.exe (resource type 24, ID 1)"
resource_bytes MANIFEST >"$x/manifest.xml" || true
sed 's/^/    /' "$x/manifest.xml"
# Exactly the repository's manifest, under ID 1: asInvoker, the four
# supportedOS entries, and no element beyond those (no code page, no DPI).
elements=$({ grep -o '<[A-Za-z][A-Za-z]*' "$x/manifest.xml" || true; } | LC_ALL=C sort -u | tr '\n' ' ')
supported=$({ grep -o 'supportedOS Id="{[0-9a-f-]*}"' "$x/manifest.xml" || true; } | tr '\n' ' ')
if cmp -s "$x/manifest.xml" "$repo/app/nembo.exe.manifest" &&
   llvm-readobj-19 --coff-resources "$exe" | grep -A 4 'Type: MANIFEST (ID 24)' | grep -q 'Name: (ID 1)' &&
   grep -q '<requestedExecutionLevel level="asInvoker" uiAccess="false"/>' "$x/manifest.xml" &&
   [ "$supported" = 'supportedOS Id="{35138b9a-5d96-4fbd-8e2d-a2440225f93a}" supportedOS Id="{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}" supportedOS Id="{1f676c76-80e1-4239-95bb-83d0f6d0da78}" supportedOS Id="{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}" ' ] &&
   [ "$elements" = "<application <assembly <compatibility <requestedExecutionLevel <requestedPrivileges <security <supportedOS <trustInfo " ]; then
  pass "nembo.exe's manifest is app/nembo.exe.manifest as ID 1: asInvoker, Windows 7, 8, 8.1 and 10/11, nothing else"
else
  fail "nembo.exe's manifest is not app/nembo.exe.manifest as ID 1 (elements: $elements)"
fi

echo "the programs' help screens"
# help.linux, the tarball's nembo --help, is what later checks compare with:
# it must be a help screen that ended well.
help_status=0
"$elf" --help >"$x/help.linux" 2>&1 </dev/null || help_status=$?
if [ "$help_status" -ne 0 ] || ! grep -q -- '--help' "$x/help.linux"; then
  fail "the tarball's nembo --help: status $help_status, $(wc -l <"$x/help.linux") lines, no option list"
elif [ ! -x "$repo/build/release/nembo" ]; then
  fail "build/release/nembo is missing, so the tarball's nembo --help cannot be compared with it (cmake --preset release && cmake --build --preset release --target nembo)"
else
  release_status=0
  "$repo/build/release/nembo" --help >"$x/help.release" 2>&1 </dev/null || release_status=$?
  if [ "$release_status" -eq 0 ] && cmp -s "$x/help.linux" "$x/help.release"; then
    pass "the tarball's nembo --help prints what build/release/nembo --help prints, both with status 0"
  else
    fail "the tarball's nembo --help differs from build/release/nembo's (status $release_status)"
  fi
fi
wine_status=0
NEMBO_WINEPREFIX=${NEMBO_WINEPREFIX:-$repo/build/wineprefix} \
  "$repo/cmake/wine-run.sh" "$exe" --help >"$x/help.wine" 2>&1 </dev/null || wine_status=$?
# The usage line names the program as it was started: nembo.exe there.
windows_help() { tr -d '\r' <"$x/help.wine" | sed '2s/^  nembo\.exe /  nembo /'; }
if [ "$wine_status" -eq 0 ] && [ -s "$x/help.linux" ] && windows_help | cmp -s - "$x/help.linux"; then
  pass "the zip's nembo.exe --help under Wine prints the Linux program's help screen (CRLF, its own name)"
else
  fail "nembo.exe --help under Wine (status $wine_status):"; diff <(windows_help) "$x/help.linux" | head -n 20 || true
fi

echo "the static Linux program"
# Each tool's whole answer is read, and a tool that fails, or answers
# without what any ELF program's answer holds, fails the check: an empty
# answer would otherwise read as "no interpreter, no library".
failed_tools=""
file_type=$(file -b "$elf" 2>"$x/elf.file.err") || failed_tools+=" file"
elf_header=$(readelf -hW "$elf" 2>"$x/elf.readelf-h.err") || failed_tools+=" readelf-h"
program_headers=$(readelf -lW "$elf" 2>"$x/elf.readelf-l.err") || failed_tools+=" readelf-l"
dynamic=$(readelf -dW "$elf" 2>"$x/elf.readelf-d.err") || failed_tools+=" readelf-d"
dynamic_symbols=$(objdump -T "$elf" 2>"$x/elf.objdump-T.err") || failed_tools+=" objdump-T"
grep -q 'ELF' <<<"$file_type" || failed_tools+=" file(no ELF)"
grep -q '^ *Type:' <<<"$elf_header" || failed_tools+=" readelf-h(no type)"
grep -q '^ *LOAD ' <<<"$program_headers" || failed_tools+=" readelf-l(no LOAD)"
grep -q 'DYNAMIC SYMBOL TABLE' <<<"$dynamic_symbols" || failed_tools+=" objdump-T(no table)"
echo "    $file_type"
{ grep -iE 'INTERP|Requesting' <<<"$program_headers" || true; } | sed 's/^/    /'
needed=$(sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' <<<"$dynamic" | tr '\n' ' ')
versions=$({ grep -oE 'GLIBC_[0-9.]+' <<<"$dynamic_symbols" || true; } | sort -u | tr '\n' ' ')
elf_type=$(sed -n 's/^ *Type: *//p' <<<"$elf_header" | cut -d' ' -f1)
if [ -n "$failed_tools" ]; then
  fail "the static Linux program could not be read:$failed_tools"
  for f in "$x"/elf.*.err; do head -n 2 "$f" | sed "s/^/    $(basename "$f" .err | cut -d. -f2): /"; done
elif grep -q 'static-pie linked' <<<"$file_type" && [ "$elf_type" = DYN ] &&
     ! grep -q INTERP <<<"$program_headers" && [ -z "$needed" ] && [ -z "$versions" ]; then
  pass "nembo is static-pie: no interpreter, no NEEDED library, no glibc symbol version"
else
  fail "nembo is not a static-pie program: type '$elf_type', needs '$needed', glibc versions '$versions'"
fi

# An empty root holds the program and nothing else: no C library, no
# loader, no /etc, no locale or gconv files. Only the kernel's /proc, /sys
# and /dev are mounted, which nembo reads. Each run mounts them in a mount
# namespace of its own (private propagation), which ends with the run: no
# mount of it is ever seen on the machine, nor left there by a run that
# fails or is killed.
if [ "$(id -u)" -ne 0 ]; then
  skip "the runs in an empty root need root"
else
  jail=$work/empty-root
  mkdir -p "$jail/proc" "$jail/sys" "$jail/dev"
  install -m 755 "$elf" "$jail/nembo"
  echo "    $(cd "$jail" && find . -maxdepth 1 | sort | tr '\n' ' ')"
  # The runs again with LANG and LC_ALL naming a UTF-8 locale this machine
  # lacks: the program must not depend on the locale it is given.
  foreign=""
  if installed_locales=$(locale -a 2>/dev/null) && grep -qix -e C -e POSIX <<<"$installed_locales"; then
    for candidate in de_DE.UTF-8 fr_FR.UTF-8 ja_JP.UTF-8 pt_BR.UTF-8; do
      key=$(tr 'A-Z' 'a-z' <<<"$candidate" | sed 's/utf-8$/utf8/')
      if ! tr 'A-Z' 'a-z' <<<"$installed_locales" | sed 's/utf-8$/utf8/' | grep -qxF "$key"; then
        foreign=$candidate; break
      fi
    done
  fi
  # The plain runs have no locale variable at all.
  plain_env=(env)
  for v in $(env | sed -n 's/^\(LANG\|LANGUAGE\|LC_[A-Z_]*\)=.*/\1/p'); do plain_env+=(-u "$v"); done
  # jail_run NAME LOCALE ARGS...: /nembo ARGS in the empty root, its
  # stdout, stderr and status in $x/jail.NAME.{out,err,status}; LOCALE, when
  # not empty, goes into LANG and LC_ALL.
  jail_run() {
    local name=$1 lang=$2 status=0; shift 2
    local environment=("${plain_env[@]}")
    if [ -n "$lang" ]; then environment+=("LANG=$lang" "LC_ALL=$lang"); fi
    rm -f "$x/jail.$name.mounted"
    "${environment[@]}" unshare --mount --propagation private -- /bin/sh -c '
        set -e
        root=$1 mounted=$2; shift 2
        for m in proc sys dev; do mount --rbind "/$m" "$root/$m"; done
        : >"$mounted"
        exec chroot "$root" /nembo "$@"' sh "$jail" "$x/jail.$name.mounted" "$@" \
      </dev/null >"$x/jail.$name.out" 2>"$x/jail.$name.err" || status=$?
    echo "$status" >"$x/jail.$name.status"
  }
  # A timed run's output without what changes from run to run: the progress
  # line's updates, the figures, the columns' widths. A decimal comma
  # instead of a point still shows.
  steady() { tr '\r' '\n' <"$1" | { grep -v '^benchmarking\.\.\. ' || true; } | sed -E 's/[0-9]+(\.[0-9]+)?/N/g; s/ +/ /g'; }
  outside_topo_status=0
  "$elf" --topo-debug >"$x/topo.out" 2>"$x/topo.err" </dev/null || outside_topo_status=$?
  runs=(help topo run)
  declare -A run_args=([help]="--help" [topo]="--topo-debug" [run]="-d 1 -s 64 --bypass-timer-check")
  for r in "${runs[@]}"; do
    jail_run "$r" "" ${run_args[$r]}
    if [ -n "$foreign" ]; then jail_run "$r.foreign" "$foreign" ${run_args[$r]}; fi
  done

  ok=1
  for r in "${runs[@]}"; do
    [ -f "$x/jail.$r.mounted" ] || { echo "    $r: the mounts failed: $(head -n 3 "$x/jail.$r.err")"; ok=0; }
    echo "    ${run_args[$r]}: status $(cat "$x/jail.$r.status"), $(wc -l <"$x/jail.$r.out") lines out, $(wc -l <"$x/jail.$r.err") lines err"
  done
  [ "$(cat "$x/jail.help.status")" -eq 0 ] && cmp -s "$x/jail.help.out" "$x/help.linux" && [ ! -s "$x/jail.help.err" ] ||
    { echo "    --help in the empty root differs from the tarball's nembo --help"; ok=0; }
  [ "$outside_topo_status" -eq 0 ] && [ -s "$x/topo.out" ] && [ "$(cat "$x/jail.topo.status")" -eq 0 ] &&
    cmp -s "$x/jail.topo.out" "$x/topo.out" && cmp -s "$x/jail.topo.err" "$x/topo.err" ||
    { echo "    --topo-debug in the empty root differs from outside"; ok=0; }
  head -n 4 "$x/jail.topo.out" | sed 's/^/    /'
  if [ "$(cat "$x/jail.run.status")" -eq 0 ] && grep -E '^final score: [0-9.]+ MGups$' "$x/jail.run.out" >"$x/jail.score"; then
    sed 's/^/    /' "$x/jail.score"
  else
    { tail -n 20 "$x/jail.run.out" "$x/jail.run.err" || true; } | tr '\r' '\n' | tail -n 20; ok=0
  fi
  if [ "$ok" -eq 1 ]; then
    pass "in an empty root, nembo --help, --topo-debug and a one-second run work as outside"
  else
    fail "nembo in an empty root"
  fi

  if [ -z "$foreign" ]; then
    fail "no UTF-8 locale absent from this machine found for the foreign-locale runs (locale -a failed, or lists them all)"
  else
    ok=1
    for r in "${runs[@]}"; do
      [ -f "$x/jail.$r.foreign.mounted" ] || { echo "    $r with $foreign: the mounts failed: $(head -n 3 "$x/jail.$r.foreign.err")"; ok=0; }
      cmp -s "$x/jail.$r.status" "$x/jail.$r.foreign.status" ||
        { echo "    ${run_args[$r]}: status $(cat "$x/jail.$r.status") without, $(cat "$x/jail.$r.foreign.status") with LANG=LC_ALL=$foreign"; ok=0; }
    done
    for r in help topo; do
      for stream in out err; do
        cmp -s "$x/jail.$r.$stream" "$x/jail.$r.foreign.$stream" ||
          { echo "    ${run_args[$r]}: std$stream differs with LANG=LC_ALL=$foreign:"; { diff "$x/jail.$r.$stream" "$x/jail.$r.foreign.$stream" || true; } | head -n 6 | sed 's/^/      /'; ok=0; }
      done
    done
    for stream in out err; do
      cmp -s <(steady "$x/jail.run.$stream") <(steady "$x/jail.run.foreign.$stream") ||
        { echo "    the one-second run's std$stream differs with LANG=LC_ALL=$foreign:"; { diff <(steady "$x/jail.run.$stream") <(steady "$x/jail.run.foreign.$stream") || true; } | head -n 6 | sed 's/^/      /'; ok=0; }
    done
    if [ "$ok" -eq 1 ]; then
      pass "with LANG and LC_ALL set to $foreign (not in locale -a), the same output, errors and status in the empty root: --help and --topo-debug byte for byte, the one-second run but for its figures"
    else
      fail "nembo in the empty root with LANG and LC_ALL set to $foreign"
    fi
  fi

  left=$(findmnt -rn -o TARGET | grep -F "$jail" || true)
  if [ -z "$(findmnt -rn -o TARGET)" ]; then
    fail "findmnt lists no mount at all, so mounts left behind cannot be seen"
  elif [ -n "$left" ]; then
    fail "mounts of the empty root are left on the machine: $(tr '\n' ' ' <<<"$left")"
  else
    pass "no mount of the empty root is seen on the machine after its runs"
  fi
fi

echo "the Debian package"
# dpkg-deb -f prints nothing for a field the package lacks: read the whole
# control file once, so that a dpkg-deb that fails is not read as no field.
if ! control=$(dpkg-deb -f "$one/dist/$deb") || ! grep -q '^Package: ' <<<"$control"; then
  fail "dpkg-deb cannot read the control file of $deb"
else
  depends=$(dpkg-deb -f "$one/dist/$deb" Depends)
  if [ -z "$depends" ] && ! grep -qE '^(Pre-)?Depends:' <<<"$control"; then
    pass "the package depends on nothing"
  else
    fail "the package depends on '$depends'"
  fi
  fields=$(dpkg-deb -f "$one/dist/$deb" Package Version Architecture Maintainer Section Description)
  if [[ "$fields" == *"Package: nembo"*"Version: $version"*"Architecture: amd64"*"Maintainer: "?*"Section: "?*"Description: "?* ]]; then
    pass "package metadata: nembo $version amd64, with maintainer, section and description"
  else
    fail "package metadata: $fields"
  fi
  # The program carries glibc's code: Built-Using names the glibc source
  # of the version linked in (Debian policy 7.8), libc6-dev's version in
  # the build-info file.
  built_using=$(dpkg-deb -f "$one/dist/$deb" Built-Using)
  echo "    Built-Using: $built_using"
  if [ -n "$libc_version" ] && [ "$built_using" = "glibc (= $libc_version)" ]; then
    pass "the package's Built-Using is glibc (= $libc_version), the build-info file's libc6-dev"
  else
    fail "the package's Built-Using is '$built_using', not glibc (= ${libc_version:-no libc6-dev version in $buildinfo})"
  fi
fi

if [ "$(id -u)" -ne 0 ]; then
  skip "installing the Debian package needs root"
elif [ "$(dpkg-query -W -f='${Status}' nembo 2>/dev/null)" = "install ok installed" ]; then
  skip "a nembo package is already installed on this machine; it is left alone"
else
  installed_here=1
  ok=1
  dpkg -i "$one/dist/$deb" >"$x/dpkg.log" 2>&1 || { cat "$x/dpkg.log"; ok=0; }
  files=$(dpkg -L nembo 2>/dev/null | while read -r f; do if [ -f "$f" ]; then echo "$f"; fi; done) || true
  echo "$files" | sed 's/^/    /'
  # What "leaves nothing" is checked against: dpkg's list of the files.
  grep -qx /usr/bin/nembo <<<"$files" || { echo "    dpkg -L nembo does not list /usr/bin/nembo"; ok=0; }
  [ -x /usr/bin/nembo ] && [ -f /usr/share/doc/nembo/README.md ] && [ -f /usr/share/doc/nembo/guide.txt ] || ok=0
  /usr/bin/nembo --help >"$x/help.installed" 2>&1 && cmp -s "$x/help.installed" "$x/help.linux" || ok=0
  dpkg --purge nembo >>"$x/dpkg.log" 2>&1 || { cat "$x/dpkg.log"; ok=0; }
  installed_here=0
  left=$(for f in $files /usr/share/doc/nembo; do if [ -e "$f" ]; then echo "$f"; fi; done)
  [ -z "$left" ] || { echo "    left behind: $left"; ok=0; }
  state=$(dpkg-query -W -f='${Status}' nembo 2>/dev/null) || state="not known to dpkg"
  case "$state" in
    "not known to dpkg" | "unknown ok not-installed" | "purge ok not-installed") ;;
    *) echo "    after dpkg --purge, dpkg knows nembo as '$state'"; ok=0 ;;
  esac
  if [ "$ok" -eq 1 ]; then
    pass "the package installs, /usr/bin/nembo --help works, and dpkg --purge leaves nothing"
  else
    fail "the package's install, run or removal"
  fi
fi
# --- the licence and the notices ---------------------------------------------
# Each package carries nembo's licence and the notices of what its program
# links in, and only those: nembo.exe the mingw-w64 runtime, the Linux
# program glibc, both libstdc++, libgcc and {fmt}.
echo "the licence and the notices"
notices=$repo/packaging/notices
winroot=$x/zip/nembo-$version-windows-x86_64
linroot=$x/tgz/nembo-$version-linux-x86_64
listing() { (cd "$1" && find . -type f | sed 's|^\./||' | LC_ALL=C sort | tr '\n' ' '); }
echo "    zip:     $(listing "$winroot")"
echo "    tarball: $(listing "$linroot")"
crlf_of() { [ "$(grep -c $'\r$' "$1")" -eq "$(wc -l <"$1")" ] && tr -d '\r' <"$1" | cmp -s - "$2"; }
ok=1
[ "$(listing "$winroot")" = "LICENSE.txt guide.txt nembo.exe notices/GPL-3.txt notices/fmt.txt notices/libstdc++-libgcc.txt notices/mingw-w64.txt " ] ||
  { echo "    the zip's files are not the program, the guide, the licence and its notices"; ok=0; }
for f in LICENSE.txt:LICENSE notices/GPL-3.txt notices/fmt.txt notices/libstdc++-libgcc.txt notices/mingw-w64.txt; do
  packed=${f%%:*} source=${f#*:}
  [ "$source" = "$f" ] && source=packaging/$f
  crlf_of "$winroot/$packed" "$repo/$source" || { echo "    the zip's $packed is not $source with CRLF line ends"; ok=0; }
done
[ "$(listing "$linroot")" = "LICENSE guide.txt nembo notices/GPL-3.txt notices/LGPL-2.1.txt notices/fmt.txt notices/glibc.txt notices/libstdc++-libgcc.txt " ] ||
  { echo "    the tarball's files are not the program, the guide, the licence and its notices"; ok=0; }
cmp -s "$linroot/LICENSE" "$repo/LICENSE" || { echo "    the tarball's LICENSE is not the repository's"; ok=0; }
for n in GPL-3.txt LGPL-2.1.txt fmt.txt glibc.txt libstdc++-libgcc.txt; do
  cmp -s "$linroot/notices/$n" "$notices/$n" || { echo "    the tarball's notices/$n is not packaging/notices/$n"; ok=0; }
done
grep -q '^MIT License$' "$repo/LICENSE" && grep -q '^Copyright (c) 2026 the nembo developers$' "$repo/LICENSE" ||
  { echo "    LICENSE is not the MIT licence of the nembo developers"; ok=0; }
if [ "$ok" -eq 1 ]; then
  pass "the zip and the tarball carry LICENSE and exactly their program's notices (mingw-w64 only in the zip, glibc only in the tarball)"
else
  fail "the licence and notices of the zip and the tarball"
fi

# The Debian package's copyright file: Debian's machine-readable format,
# nembo's MIT licence, and each Linux notice whole (a field's lines
# unindented, " ." an empty line).
debroot=$x/deb
mkdir -p "$debroot"
dpkg-deb -x "$one/dist/$deb" "$debroot" || fail "dpkg-deb cannot unpack $deb"
copyright=$debroot/usr/share/doc/nembo/copyright
ok=1
if [ -f "$copyright" ]; then
  [ "$(head -n 1 "$copyright")" = "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/" ] || { echo "    no Format line"; ok=0; }
  grep -qzP '\nFiles: \*\nCopyright: 2026 the nembo developers\nLicense: Expat\n' "$copyright" || { echo "    no Files: * paragraph for nembo under Expat"; ok=0; }
  sed -n 's/^ \.$//p; s/^ //p' "$copyright" >"$x/copyright.text"
  for n in libstdc++-libgcc.txt glibc.txt fmt.txt; do
    perl -0777 -e 'my ($hay, $needle) = map { local $/; open my $f, "<", $_ or die; my $t = <$f>; $t =~ s/\t/        /g; $t =~ s/[ ]+\n/\n/g; $t } @ARGV;
                   exit(index($hay, $needle) >= 0 ? 0 : 1)' "$x/copyright.text" "$notices/$n" ||
      { echo "    packaging/notices/$n is not in the copyright file"; ok=0; }
  done
  ! grep -qi 'mingw-w64 runtime' "$copyright" || { echo "    the mingw-w64 notice is in the Linux package"; ok=0; }
else
  echo "    /usr/share/doc/nembo/copyright is missing"; ok=0
fi
if [ "$ok" -eq 1 ]; then
  pass "the Debian package's copyright file: machine-readable, nembo's MIT licence, the libstdc++/libgcc, glibc and {fmt} notices whole"
else
  fail "the Debian package's copyright file"
fi

# --- the Debian package as Debian expects it ----------------------------------
echo "lintian on the Debian package"
# The second run only shows what the package's overrides silence.
lintian --fail-on error,warning "$one/dist/$deb" >"$x/lintian.log" 2>&1 && lintian_ok=1 || lintian_ok=0
lintian --show-overrides --display-level '>=info' "$one/dist/$deb" 2>&1 | grep -v 'running with root privileges' | sed 's/^/    /' || true
if [ "$lintian_ok" -eq 1 ] && ! grep -qE '^[EW]: ' "$x/lintian.log"; then
  pass "lintian reports no error and no warning"
else
  fail "lintian reports errors or warnings"
fi

echo "the changelog and the manual page"
# gzip -n: no file name and a zero time in the header (flags byte 3, time 4-7).
gzip_n() { [ "$(od -An -tx1 -j3 -N5 "$1" | tr -d ' \n')" = 0000000000 ]; }
changelog=$debroot/usr/share/doc/nembo/changelog.gz
ok=1
if [ -f "$changelog" ]; then
  gzip_n "$changelog" || { echo "    changelog.gz holds a name or a time"; ok=0; }
  zcat "$changelog" | cmp -s - "$repo/packaging/debian/changelog" || { echo "    changelog.gz is not packaging/debian/changelog"; ok=0; }
  newest=$(dpkg-parsechangelog -l "$repo/packaging/debian/changelog" -S Version 2>&1) || true
  [ "$newest" = "$version" ] || { echo "    the changelog's newest entry is $newest, not $version"; ok=0; }
else
  echo "    /usr/share/doc/nembo/changelog.gz is missing"; ok=0
fi
if [ "$ok" -eq 1 ]; then
  pass "changelog.gz: packaging/debian/changelog made with gzip -n, newest entry $version"
else
  fail "the Debian package's changelog"
fi

page=$debroot/usr/share/man/man1/nembo.1.gz
ok=1
if [ -f "$page" ]; then
  gzip_n "$page" || { echo "    nembo.1.gz holds a name or a time"; ok=0; }
  LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$page" >/dev/null 2>"$x/man.warnings" || ok=0
  if [ -s "$x/man.warnings" ]; then sed 's/^/    /' "$x/man.warnings"; ok=0; fi
  LC_ALL=C.UTF-8 MANWIDTH=80 man -l "$page" 2>/dev/null | col -bx >"$x/man.text" || ok=0
  head -n 3 "$x/man.text" | sed 's/^/    /'
  grep -q "nembo $version" "$x/man.text" || { echo "    the page does not name version $version"; ok=0; }
  for section in OPTIONS RESULT "THE TIMER RULE" "LARGE PAGES" "EXIT STATUS"; do
    grep -q "^$section\$" "$x/man.text" || { echo "    no $section section"; ok=0; }
  done
  for words in "valid result" "workload verified" "invalid result" useplatformclock current_clocksource nr_hugepages; do
    grep -qF "$words" "$x/man.text" || { echo "    the page does not mention $words"; ok=0; }
  done
else
  echo "    /usr/share/man/man1/nembo.1.gz is missing"; ok=0
fi
if [ "$ok" -eq 1 ]; then
  pass "nembo.1.gz: made with gzip -n, man renders it without a warning, with its sections"
else
  fail "the manual page"
fi

# The page's options against the help screen's, both ways, and the grid
# sizes and instruction sets of the help screen's option lines.
help_options=$(sed -n '/^OPTIONS/,/^$/p' "$x/help.linux" | sed -n 's/^  \(-[^ ].*\)/\1/p' | sed 's/  .*//' |
               { grep -oE '(^|, )-[-?a-z0-9]+' || true; } | sed 's/^, //' | LC_ALL=C sort -u)
page_options=$(sed -n '/^OPTIONS$/,/^[A-Z]/p' "$x/man.text" | { grep -E '^       -' || true; } |
               { grep -oE '(^       |, )-[-?a-z0-9]+' || true; } | sed 's/^, //; s/^ *//' | LC_ALL=C sort -u)
missing=$(comm -23 <(echo "$help_options") <(echo "$page_options") | tr '\n' ' ')
extra=$(comm -13 <(echo "$help_options") <(echo "$page_options") | tr '\n' ' ')
values=$(sed -n 's/.*one of \[\([^]]*\)\].*/\1/p' "$x/help.linux" | tr -d ',' | tr ' ' '\n' | { grep . || true; })
absent=$(for v in $values; do grep -qE "(^|[ (])$v([,. ]|$)" <(sed -n '/^OPTIONS$/,/^[A-Z]/p' "$x/man.text" | tr -d '\n' | sed 's/‐ *//g; s/  */ /g') || echo "$v"; done | tr '\n' ' ')
echo "    help options: $(echo "$help_options" | tr '\n' ' ')"
echo "    help values: $(echo "$values" | tr '\n' ' ')"
if [ -z "$help_options" ]; then
  fail "nembo --help lists no option (no OPTIONS lines), so the page's options cannot be compared"
elif [ -z "$values" ]; then
  fail "nembo --help lists no value (no 'one of [...]'), so the page's sizes and instruction sets cannot be compared"
elif [ -z "$missing" ] && [ -z "$extra" ] && [ -z "$absent" ]; then
  pass "the manual page lists every option of nembo --help and no other, and every size and instruction set"
else
  fail "the manual page and nembo --help disagree: not in the page '$missing', not in the help '$extra', values not in the page '$absent'"
fi

# --- the build-info file ----------------------------------------------------
echo "the build-info file"
sed 's/^/    /' "$one/dist/$buildinfo" 2>/dev/null | head -n 8 || true
ok=1
grep -qE "^[0-9a-f]{64}  $buildinfo\$" "$one/dist/SHA256SUMS" || { echo "    $buildinfo is not in SHA256SUMS"; ok=0; }
grep -qx "Commit: $rev" "$one/dist/$buildinfo" || { echo "    it does not name the commit $rev alone"; ok=0; }
recorded=$(sed -n 's/^\([^#][^=]*\)=.*/\1/p' "$repo/packaging/toolchain.txt")
grep -qx libc6-dev <<<"$recorded" || { echo "    packaging/toolchain.txt does not list libc6-dev"; ok=0; }
for package in $recorded; do
  grep -qE "^$(printf '%s' "$package" | sed 's/[+.]/\\&/g')=[0-9][^ ]*\$" "$one/dist/$buildinfo" ||
    { echo "    no installed version of $package"; ok=0; }
done
! grep -qF -e "$work" -e "$repo" "$one/dist/$buildinfo" || { echo "    a path is in it"; ok=0; }
if [ "$ok" -eq 1 ]; then
  pass "$buildinfo is in SHA256SUMS and names $rev and a version of every package of packaging/toolchain.txt"
else
  fail "the build-info file"
fi
sed -n 's/^dist: toolchain differs/    toolchain differs/p' "$one.log"

# --- the source beside the packages -------------------------------------------
# glibc is under the LGPL: beside the static program are nembo's complete
# source, from which it is built again, and the source of the C library
# version linked in.
echo "nembo's source tarball"
ok=1
commit_time=$(git -C "$repo" log -1 --format=%ct "$rev")
source_files=""
if tar -tzf "$one/dist/$src" >"$x/source.names" && TZ=UTC tar --full-time -tvzf "$one/dist/$src" >"$x/source.long"; then
  outside=$(grep -cv "^nembo-$version/" "$x/source.names" || true)
  [ "$outside" -eq 0 ] || { echo "    $outside entries lie outside nembo-$version/"; ok=0; }
  source_files=$({ grep -v '/$' "$x/source.names" || true; } | sed "s|^nembo-$version/||" | LC_ALL=C sort)
  tracked=$(git -C "$repo" ls-tree -r --name-only "$rev" | LC_ALL=C sort)
  [ -n "$tracked" ] && [ "$source_files" = "$tracked" ] ||
    { echo "    its files are not the commit's: $(diff <(echo "$tracked") <(echo "$source_files") | grep '^[<>]' | head -n 5 | tr '\n' ' ')"; ok=0; }
  # git archive stamps a commit's entries with the commit's time, a tree's
  # with the clock's.
  stamps=$(awk '{ print $4 " " $5 }' "$x/source.long" | sort -u | tr '\n' ' ')
  [ "$stamps" = "$(date -u -d "@$commit_time" '+%Y-%m-%d %H:%M:%S') " ] ||
    { echo "    its time stamps are '$stamps', not the commit's"; ok=0; }
  gzip -dc "$one/dist/$src" >"$x/source.tar"
  tar_commit=$(git -C "$repo" get-tar-commit-id <"$x/source.tar") || tar_commit=none
  [ "$tar_commit" = "$rev" ] || { echo "    its header names the commit '$tar_commit', not $rev"; ok=0; }
  echo "    $(wc -l <"$x/source.names") entries under nembo-$version/, commit $tar_commit, time $stamps"
else
  echo "    tar cannot read $src"; ok=0
fi
if [ "$ok" -eq 1 ]; then
  pass "$src holds the files of $rev under nembo-$version/, with the commit's time"
else
  fail "nembo's source tarball"
fi

echo "make build in the source tarball, unpacked into an empty folder"
from_source=$work/from-source
mkdir "$from_source"
started_build=$(date +%s)
if tar -xzf "$one/dist/$src" -C "$from_source" &&
   make -C "$from_source/nembo-$version" --no-print-directory build >"$from_source.log" 2>&1; then
  echo "    built in $(( $(date +%s) - started_build )) s: $(sha256sum <"$from_source/nembo-$version/build/dist-linux/nembo" | cut -c1-16)... against the tarball's $(sha256sum <"$elf" | cut -c1-16)..."
  if cmp -s "$from_source/nembo-$version/build/dist-linux/nembo" "$elf"; then
    pass "make build in the unpacked $src gives build/dist-linux/nembo, byte for byte the tarball's nembo"
  else
    fail "make build in the unpacked $src gives another nembo than the tarball's"
  fi
else
  tail -n 20 "$from_source.log" 2>/dev/null || true
  fail "make build in the unpacked $src"
fi
rm -rf --one-file-system "$from_source"

echo "the GNU C Library's source"
ok=1
named=""
if [ -z "$libc_version" ]; then
  echo "    $buildinfo gives no version of libc6-dev"; ok=0
elif [ ! -f "$one/dist/$dsc" ]; then
  echo "    $dsc, libc6-dev $libc_version's source, is not in dist/"; ok=0
else
  grep -qxF "Source: glibc" "$one/dist/$dsc" && grep -qxF "Version: $libc_version" "$one/dist/$dsc" ||
    { echo "    $dsc is not glibc $libc_version: $(grep -E '^(Source|Version):' "$one/dist/$dsc" | tr '\n' ' ')"; ok=0; }
  named=$(sed -n '/^Checksums-Sha256:$/,/^[^ ]/s/^ [0-9a-f]\{64\} [0-9][0-9]* \([^ /]*\)$/\1/p' "$one/dist/$dsc")
  grep -q '\.orig\.tar\.' <<<"$named" && grep -q '\.debian\.tar\.' <<<"$named" ||
    { echo "    $dsc names no orig and debian tarball: $(tr '\n' ' ' <<<"$named")"; ok=0; }
  for f in "$dsc" $named; do
    [ -f "$one/dist/$f" ] || { echo "    $f is not in dist/"; ok=0; }
    awk -v f="$f" '$2 == f { found = 1 } END { exit !found }' "$one/dist/SHA256SUMS" || { echo "    $f is not in SHA256SUMS"; ok=0; }
  done
  # dpkg-source checks every file against the .dsc's sizes and sums, and
  # unpacks the source with Debian's patches applied.
  unpacked=$work/glibc-source
  mkdir "$unpacked"
  if dpkg-source -x "$one/dist/$dsc" "$unpacked/glibc" >"$x/dpkg-source.log" 2>&1; then
    changelog_version=$(dpkg-parsechangelog -l "$unpacked/glibc/debian/changelog" -S Version 2>&1) || true
    [ "$changelog_version" = "$libc_version" ] ||
      { echo "    the unpacked source's debian/changelog is of version '$changelog_version'"; ok=0; }
    echo "    $dsc and $(tr '\n' ' ' <<<"$named")unpack with dpkg-source: $(du -sm "$unpacked/glibc" | cut -f1) MB, debian/changelog $changelog_version"
  else
    grep -v 'info: applying' "$x/dpkg-source.log" | tail -n 5 | sed 's/^/    /'
    echo "    dpkg-source -x $dsc failed"; ok=0
  fi
  rm -rf --one-file-system "$unpacked"
fi
if [ "$ok" -eq 1 ]; then
  pass "Debian's glibc $libc_version source package (the build-info file's libc6-dev) is in dist/ and SHA256SUMS, and dpkg-source unpacks it"
else
  fail "the GNU C Library's source beside the packages"
fi

echo "the notice of the GNU C Library and the copyright file"
ok=1
for name in "nembo-<version>-source.tar.gz:$src" "glibc_<glibc version>.dsc:$dsc"; do
  pattern=${name%%:*} file=${name#*:}
  grep -qF "$pattern" "$repo/packaging/notices/glibc.txt" || { echo "    packaging/notices/glibc.txt does not name $pattern"; ok=0; }
  [ -f "$one/dist/$file" ] || { echo "    $pattern, that is $file, is not in dist/"; ok=0; }
done
# Every Files pattern of the copyright file matches a file of nembo's
# source: no paragraph names paths that are in no source.
patterns=$(awk '/^Files:/ { sub(/^Files:[ \t]*/, ""); print; more = 1; next }
                more && /^[ \t]/ { print; next } { more = 0 }' "$copyright" 2>/dev/null | tr ' \t' '\n\n' | { grep . || true; })
[ -n "$patterns" ] || { echo "    the copyright file has no Files paragraph"; ok=0; }
[ -n "$source_files" ] || { echo "    no file list of $src to match the Files patterns with"; ok=0; }
set -f
for pattern in $patterns; do
  matched=0
  while read -r f; do
    if [[ $f == $pattern ]]; then matched=1; break; fi
  done <<<"$source_files"
  [ "$matched" -eq 1 ] || { echo "    Files: $pattern matches no file of $src"; ok=0; }
done
set +f
if [ "$ok" -eq 1 ]; then
  pass "the glibc notice names $src and $dsc, which are beside the packages; the copyright file's Files patterns ($(tr '\n' ' ' <<<"$patterns")) match nembo's source"
else
  fail "the glibc notice or the copyright file's Files paragraphs"
fi

# --- what nembo.exe imports ---------------------------------------------------
# Windows 7 SP1 x64 and later: nembo.exe imports only the functions of
# packaging/windows-imports.txt, each of which Windows 7 has.
echo "nembo.exe's imports (llvm-readobj-19 --coff-imports)"
exe_imports() {
  llvm-readobj-19 --coff-imports "$1" |
    awk '/^ *(Delay)?Import \{/ { dll = "" }
         /^ *Name: / { dll = tolower($2) }
         /^ *Symbol: / { name = $2; if (name ~ /^\(/) name = "#" substr(name, 2, length(name) - 2); print dll "!" name }' |
    LC_ALL=C sort -u
}
allowed=$(grep -v '^#' "$repo/packaging/windows-imports.txt" | grep . | LC_ALL=C sort -u)
imported=$(exe_imports "$exe") || imported=""
extra=$(comm -13 <(echo "$allowed") <(echo "$imported"))
unused=$(comm -23 <(echo "$allowed") <(echo "$imported") | tr '\n' ' ')
echo "    $(echo "$imported" | grep -c .) functions from $(echo "$imported" | cut -d! -f1 | sort -u | tr '\n' ' ')"
[ -z "$imported" ] || [ -z "$unused" ] || echo "    listed but no longer imported (may be dropped from the list): $unused"
if [ -z "$imported" ]; then
  fail "llvm-readobj-19 reads no import from nembo.exe"
elif [ -z "$extra" ] && ! echo "$allowed" | grep -qiE '^(api-ms-win-|ucrtbase)'; then
  pass "every import of nembo.exe is in packaging/windows-imports.txt (Windows 7 SP1 x64), no Universal CRT"
else
  echo "$extra" | sed 's/^/    not in packaging\/windows-imports.txt: /'
  fail "nembo.exe imports what packaging/windows-imports.txt does not list"
fi
finish
