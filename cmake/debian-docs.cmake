# Makes the Debian package's documents from the committed sources, in OUT:
#  - copyright: Debian's machine-readable copyright file, nembo's licence
#    (LICENSE) and the notices of what the static program links in
#    (packaging/notices/), each notice given whole;
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
 libstdc++-12-dev, libgcc-12-dev, libc6-dev and libfmt-dev. The paragraphs
 after nembo's own name those projects' files as in their sources; each
 one's Comment is the notice shipped with the program, whole.

Files: *
Copyright: 2026 the nembo developers
License: Expat

Files: gcc/libstdc++-v3/* gcc/libgcc/*
Copyright: 1986-2019 Free Software Foundation, Inc.
License: GPL-3+ with GCC-exception-3.1
Comment:
${gcc}

Files: glibc/*
Copyright: 1991-2015 Free Software Foundation, Inc.
 and the other holders named in the Comment
License: LGPL-2.1+
Comment:
${glibc}

Files: fmt/*
Copyright: 2012-2020 Victor Zverovich
 2018-2020 Remotion (Igor Schulz)
 2019 Paul Dreik
License: Expat with embedded exception
Comment:
${fmt}

License: Expat
${expat}

License: GPL-3+ with GCC-exception-3.1
 This library is free software; you can redistribute it and/or modify it
 under the terms of the GNU General Public License as published by the Free
 Software Foundation; either version 3, or (at your option) any later
 version, with the GCC Runtime Library Exception, version 3.1, whose text
 is in the Comment of the paragraph for gcc/libstdc++-v3/* above.
 .
 On Debian systems, the complete text of the GNU General Public License
 version 3 can be found in /usr/share/common-licenses/GPL-3.

License: LGPL-2.1+
 The GNU C Library is free software; you can redistribute it and/or modify
 it under the terms of the GNU Lesser General Public License as published
 by the Free Software Foundation; either version 2.1 of the License, or (at
 your option) any later version.
 .
 On Debian systems, the complete text of the GNU Lesser General Public
 License version 2.1 can be found in /usr/share/common-licenses/LGPL-2.1.

License: Expat with embedded exception
 The terms are in the Comment of the paragraph for fmt/* above.
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
