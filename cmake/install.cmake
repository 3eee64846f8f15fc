# What `cmake --install` puts in place, and so what the release packages hold:
# the program, and for its users the README and the plain-text guide; the
# licence (in the Debian package as its copyright file, below).
include(GNUInstallDirs)
install(TARGETS nembo RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES README.md packaging/guide.txt DESTINATION ${CMAKE_INSTALL_DOCDIR})
if(NOT (NEMBO_DIST AND NOT WIN32))
  install(FILES LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()

# The Debian package is made by CPack from these rules (cmake/dist.sh runs
# it). Its time stamps come from SOURCE_DATE_EPOCH, which dist.sh sets to the
# last commit's time.
if(NEMBO_DIST AND NOT WIN32)
  set(NEMBO_PACKAGE_MAINTAINER "nembo maintainers <maintainers@users.noreply.c-seed-25d13a10.example>"
      CACHE STRING "Maintainer named in the Debian package")
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGE_NAME nembo)
  set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
  set(CPACK_PACKAGE_CONTACT ${NEMBO_PACKAGE_MAINTAINER})
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)

  # The documents Debian asks of a package, made in the build tree from
  # the committed sources (cmake/debian-docs.cmake): the copyright file with
  # the notices of what the program links in, the changelog and the manual
  # page, both compressed with gzip -9n.
  set(debian_docs ${CMAKE_BINARY_DIR}/debian)
  set(debian_sources LICENSE packaging/debian/changelog packaging/nembo.1
      packaging/notices/libstdc++-libgcc.txt packaging/notices/glibc.txt packaging/notices/fmt.txt)
  list(TRANSFORM debian_sources PREPEND ${PROJECT_SOURCE_DIR}/)
  add_custom_command(
    OUTPUT ${debian_docs}/copyright ${debian_docs}/changelog.gz ${debian_docs}/nembo.1.gz
    COMMAND ${CMAKE_COMMAND} -DSRC=${PROJECT_SOURCE_DIR} -DOUT=${debian_docs}
            -DVERSION=${PROJECT_VERSION} "-DMAINTAINER=${NEMBO_PACKAGE_MAINTAINER}"
            -P ${PROJECT_SOURCE_DIR}/cmake/debian-docs.cmake
    DEPENDS ${debian_sources} ${PROJECT_SOURCE_DIR}/cmake/debian-docs.cmake
    COMMENT "Debian package documents: copyright, changelog.gz, nembo.1.gz"
    VERBATIM)
  add_custom_target(nembo_debian_docs ALL DEPENDS ${debian_docs}/copyright ${debian_docs}/changelog.gz ${debian_docs}/nembo.1.gz)
  add_dependencies(nembo nembo_debian_docs)
  install(FILES ${debian_docs}/copyright ${debian_docs}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})
  install(FILES ${debian_docs}/nembo.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES packaging/debian/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME nembo)

  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "CPU benchmark simulating an electromagnetic field")
  string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
      "nembo simulates an electromagnetic field with the finite-difference"
      "time-domain method on a Yee grid, in double precision, with one cubic"
      "grid per worker thread, and scores the sum of the workers' grid-cell"
      "updates per second (MGups). It checks the HWBOT timer rules and the"
      "physics of every worker, and says whether a score can be submitted.")
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${NEMBO_PACKAGE_MAINTAINER})
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE amd64)
  # The program is static: the package depends on nothing. The glibc it
  # carries is named in Built-Using, a field CPack cannot write: cmake/dist.sh
  # adds it to the package CPack made.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
  set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/cpack)
  set(CPACK_THREADS 1)
  include(CPack)
endif()
