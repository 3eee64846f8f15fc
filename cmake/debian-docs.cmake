# Makes the Debian package's documents from the committed sources, in OUT:
#  - copyright: Debian's machine-readable copyright file: nembo's source
#    under its licence (LICENSE), and the licences of what the static
#    program links in, each with its notice (packaging/notices/) whole;
#  - changelog.gz: packaging/debian/changelog, whose newest entry must be
#    this version;
#  - nembo.1.gz: the manual page with the version filled in.
# Both .gz files are made with gzip -9n: no name, no time, the same bytes
# from every build.
#   cmake -DSRC=<source dir> -DOUT=<dir> -DVERSION=<version> -DMAINTAINER=<who> -P debian-docs.cmake
cmake_minimum_required(VERSION 3.25)
foreach(v SRC OUT VERSION MAINTAINER)
  if(NOT DEFINED ${v})
    message(FATAL_ERROR "debian-docs.cmake: ${v} is not set")
  endif()
endforeach()
file(MAKE_DIRECTORY ${OUT})

# A text as the lines of a field's body in a copyright file: each line
# indented by one space, an empty line written " .", no trailing blanks.
function(dep5_body out file)
  file(READ ${file} text)
  string(REGEX REPLACE "[ \t]+\n" "\n" text "${text}")
  string(REGEX REPLACE "\n+$" "" text "${text}")
  string(REPLACE "\t" "        " text "${text}")
  string(REPLACE "\n" "\n " text " ${text}")
  string(REGEX REPLACE "\n \n" "\n .\n" text "${text}")
  string(REGEX REPLACE "\n \n" "\n .\n" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

set(notices ${SRC}/packaging/notices)
file(READ ${SRC}/LICENSE license)
# The Expat licence's terms: LICENSE without its title and copyright lines.
string(REGEX REPLACE "^.*\nCopyright [^\n]*\n\n" "" expat "${license}")
file(WRITE ${OUT}/expat.txt "${expat}")
dep5_body(expat ${OUT}/expat.txt)
file(REMOVE ${OUT}/expat.txt)
dep5_body(gcc ${notices}/libstdc++-libgcc.txt)
dep5_body(glibc ${notices}/glibc.txt)
dep5_body(fmt ${notices}/fmt.txt)

file(WRITE ${OUT}/copyright "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: nembo
Upstream-Contact: ${MAINTAINER}
Comment: /usr/bin/nembo is one static program. Besides nembo's own code it
 carries parts of GCC's C++ runtime (libstdc++) and support library
 (libgcc), of the GNU C Library and of {fmt}, linked in from Debian 12's
 libstdc++-12-dev, libgcc-12-dev, libc6-dev and libfmt-dev when it was
 built. No file of those projects is in nembo's source, which the one Files
 paragraph covers. Their licences follow nembo's as stand-alone License
 paragraphs, each with the notice shipped with the program, whole, as its
 Comment; the notices name the copyright holders. The GNU C Library's
 source of the version linked in, which the package's Built-Using field
 names, is published beside the release packages as Debian's source
 package, with nembo's source tarball.

Files: *
Copyright: 2026 the nembo developers
License: Expat
Comment: nembo's source, as in its source tarball
 nembo-${VERSION}-source.tar.gz.

License: Expat
${expat}

License: GPL-3+ with GCC-exception-3.1
 libstdc++ and libgcc, linked into /usr/bin/nembo, are free software; you
 can redistribute them and/or modify them under the terms of the GNU General
 Public License as published by the Free Software Foundation; either
 version 3, or (at your option) any later version, with the GCC Runtime
 Library Exception, version 3.1, whose text is in this paragraph's Comment.
 .
 On Debian systems, the complete text of the GNU General Public License
 version 3 can be found in /usr/share/common-licenses/GPL-3.
Comment:
${gcc}

License: LGPL-2.1+
 The GNU C Library, parts of which are linked into /usr/bin/nembo, is free
 software; you can redistribute it and/or modify it under the terms of the
 GNU Lesser General Public License as published by the Free Software
 Foundation; either version 2.1 of the License, or (at your option) any
 later version.
 .
 On Debian systems, the complete text of the GNU Lesser General Public
 License version 2.1 can be found in /usr/share/common-licenses/LGPL-2.1.
Comment:
${glibc}

License: Expat with embedded exception
 {fmt}'s licence, for the parts of {fmt} in /usr/bin/nembo: the MIT
 (Expat) licence with an exception for portions embedded in a program by
 compiling. Its full text is in this paragraph's Comment.
Comment:
${fmt}
")

# The changelog: its newest entry names the version being packed.
file(STRINGS ${SRC}/packaging/debian/changelog first LIMIT_COUNT 1)
if(NOT first MATCHES "^nembo \\(${VERSION}\\) ")
  message(FATAL_ERROR "packaging/debian/changelog: the newest entry is '${first}', not nembo (${VERSION})")
endif()

file(READ ${SRC}/packaging/nembo.1 page)
string(REPLACE "@VERSION@" "${VERSION}" page "${page}")
file(WRITE ${OUT}/nembo.1 "${page}")

foreach(pair "packaging/debian/changelog;changelog.gz" "${OUT}/nembo.1;nembo.1.gz")
  list(GET pair 0 in)
  list(GET pair 1 gz)
  if(NOT IS_ABSOLUTE ${in})
    set(in ${SRC}/${in})
  endif()
  execute_process(COMMAND gzip -9n -c INPUT_FILE ${in} OUTPUT_FILE ${OUT}/${gz} RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "gzip -9n ${in}: ${rc}")
  endif()
endforeach()
