# {fmt}: natively the system's shared library. The Windows build and the
# shipped Linux program (which needs no libfmt on the user's machine) compile
# its implementation once, into a static nembo_fmt (cmake/fmt-library.cpp),
# from the host's headers; for Windows those are staged in the build tree,
# since the host's /usr/include never reaches the cross compiler.
if(NOT CMAKE_CROSSCOMPILING)
  find_package(fmt 9 REQUIRED)
endif()
if(CMAKE_CROSSCOMPILING OR NEMBO_DIST)
  add_library(nembo_fmt STATIC ${CMAKE_CURRENT_LIST_DIR}/fmt-library.cpp)
  target_link_libraries(nembo_fmt PRIVATE nembo_options)
  if(CMAKE_CROSSCOMPILING)
    set(_fmt_stage ${CMAKE_BINARY_DIR}/staged/include)
    if(NOT EXISTS ${_fmt_stage}/fmt/format.h)
      file(COPY /usr/include/fmt DESTINATION ${_fmt_stage})
    endif()
    target_include_directories(nembo_fmt SYSTEM PUBLIC ${_fmt_stage})
  endif()
else()
  add_library(nembo_fmt INTERFACE)
  target_link_libraries(nembo_fmt INTERFACE fmt::fmt)
endif()
