# {fmt}: the system library natively (header-only in the shipped binary); for
# Windows a header-only copy of the host's headers staged in the build tree
# (the host's /usr/include never reaches the cross compiler).
add_library(nembo_fmt INTERFACE)
if(CMAKE_CROSSCOMPILING)
  set(_fmt_stage ${CMAKE_BINARY_DIR}/staged/include)
  if(NOT EXISTS ${_fmt_stage}/fmt/format.h)
    file(COPY /usr/include/fmt DESTINATION ${_fmt_stage})
  endif()
  target_include_directories(nembo_fmt SYSTEM INTERFACE ${_fmt_stage})
  target_compile_definitions(nembo_fmt INTERFACE FMT_HEADER_ONLY=1)
else()
  find_package(fmt 9 REQUIRED)
  if(NEMBO_DIST)
    # The shipped binary needs no libfmt on the user's machine.
    target_link_libraries(nembo_fmt INTERFACE fmt::fmt-header-only)
  else()
    target_link_libraries(nembo_fmt INTERFACE fmt::fmt)
  endif()
endif()
