# Test helpers. GoogleTest comes from the system natively; the Windows build
# compiles it from the sources that Debian's libgtest-dev ships, so the same
# unit tests also run under Wine.
if(CMAKE_CROSSCOMPILING)
  if(NOT TARGET gtest)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  endif()
  set(NEMBO_GTEST_MAIN gtest_main)
else()
  find_package(GTest REQUIRED)
  set(NEMBO_GTEST_MAIN GTest::gtest_main)
endif()

# nembo_add_test(NAME SOURCES src... LIBS lib... [LABELS label...] [BOUNDED]
#                [SERIAL] [SHARDS n])
# One GoogleTest executable, registered with CTest (run under Wine in the
# Windows build). BOUNDED, for tests that can fail by hanging (threads,
# barriers), ends the program when one test runs longer than a minute
# (tests/support/hang_guard.cpp), so a deadlock fails that test at once.
# SERIAL, for tests that time themselves against the machine's clocks,
# runs the program with no other test beside it (RUN_SERIAL).
# SHARDS n registers the program as n CTest tests, NAME.shard0 to
# NAME.shard<n-1>, each running every n-th of its tests (GoogleTest's
# sharding), so that a long program's tests run side by side under
# `ctest -j`. The shards are the longest tests, so they carry a CTest COST
# that starts them first and lets the short programs fill the other core.
# A program's test sources are compiled as one unit (CMake's unity build):
# GoogleTest's headers and templates are then compiled once per program, not
# once per file, which halves the tests' build. Names at namespace scope,
# anonymous namespaces included, must therefore differ between the files of
# one program. Sources with flags of their own stay units of their own; the
# kernels' instruction-set copies are object libraries of their own
# (cmake/isa-builds.cmake).
function(nembo_add_test name)
  cmake_parse_arguments(T "BOUNDED;SERIAL" "SHARDS" "SOURCES;LIBS;LABELS" ${ARGN})
  if(T_BOUNDED)
    list(APPEND T_SOURCES ${PROJECT_SOURCE_DIR}/tests/support/hang_guard.cpp)
  endif()
  add_executable(${name} ${T_SOURCES})
  set_target_properties(${name} PROPERTIES UNITY_BUILD ON UNITY_BUILD_BATCH_SIZE 0)
  target_link_libraries(${name} PRIVATE nembo_options ${T_LIBS} ${NEMBO_GTEST_MAIN})
  if(T_SHARDS)
    math(EXPR _last "${T_SHARDS} - 1")
    foreach(_shard RANGE ${_last})
      add_test(NAME ${name}.shard${_shard} COMMAND ${name} --gtest_brief=1)
      set_tests_properties(${name}.shard${_shard} PROPERTIES LABELS "unit;${T_LABELS}"
        ENVIRONMENT "GTEST_TOTAL_SHARDS=${T_SHARDS};GTEST_SHARD_INDEX=${_shard}" COST 100)
    endforeach()
  else()
    add_test(NAME ${name} COMMAND ${name} --gtest_brief=1)
    set_tests_properties(${name} PROPERTIES LABELS "unit;${T_LABELS}")
    if(T_SERIAL)
      set_tests_properties(${name} PROPERTIES RUN_SERIAL TRUE)
    endif()
  endif()
endfunction()
