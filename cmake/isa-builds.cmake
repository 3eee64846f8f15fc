# The solver's instruction-set builds: the one place where a build's compile
# line is written down. Every row is one copy of the solver: variant.cpp
# compiled into the namespace nembo::isa_<build> over the kernel header
# solver/kernels/<KERNELS>.hpp with the row's FLAGS. The kernel tests compile
# their copy of each row with the same flags (tests/solver/kernels.cmake).
#
#   ISAS             the --isa names the build runs. solver/isa.hpp maps each
#                    name to its build for the program; kernels_test fails
#                    when the two tables disagree.
#   CLANG            compiled by clang++-19 instead of the project's compiler
#                    (GCC 12 cannot generate APX), natively or for
#                    x86_64-w64-mingw32.
#   WITH_SANITIZERS  flags added in the sanitized trees. The sanitizers add a
#                    constructor to each instrumented object that runs at
#                    start-up on every processor, compiled for the object's
#                    instruction set: with APX its push and pop would be the
#                    REX2-encoded pushp and popp (PPX) or push2 and pop2, an
#                    illegal instruction anywhere else. Without those two
#                    features the rest of APX stays in the build's code.
#
# The rows' order is the order of the builds' objects in nembo_solver, and so
# of their code in the shipped programs: a new row goes last.
#
# nembo_isa_build(<build> KERNELS <header> ISAS <name>... [FLAGS <flag>...]
#                 [CLANG] [WITH_SANITIZERS <flag>...]): one row of the table.
function(nembo_isa_build build)
  cmake_parse_arguments(B "CLANG" "KERNELS" "ISAS;FLAGS;WITH_SANITIZERS" ${ARGN})
  set(NEMBO_ISA_BUILDS ${NEMBO_ISA_BUILDS} ${build} PARENT_SCOPE)
  foreach(column KERNELS ISAS FLAGS CLANG WITH_SANITIZERS)
    set(NEMBO_ISA_${build}_${column} ${B_${column}} PARENT_SCOPE)
  endforeach()
endfunction()

nembo_isa_build(sse2     KERNELS sse2      ISAS sse2)
nembo_isa_build(avx      KERNELS sse2      ISAS avx avx2             FLAGS -mavx)
nembo_isa_build(fma      KERNELS fma       ISAS fma                  FLAGS -mavx2 -mfma)
nembo_isa_build(avx512   KERNELS avx512    ISAS avx512f avx10-2-512  FLAGS -mavx512f)
nembo_isa_build(avx512vl KERNELS avx512vl  ISAS avx512vl avx10-2-256 FLAGS -mavx512f -mavx512vl)
nembo_isa_build(fma_apx  KERNELS fma       ISAS fma-apx              FLAGS -mavx2 -mfma -mapxf CLANG
                WITH_SANITIZERS -mno-apx-features=ppx,push2pop2)

# nembo_isa_object(<objects-var> <target> <build> <source> <namespace>):
# compiles <source> once for <build>, with NEMBO_VARIANT=<namespace> and
# NEMBO_KERNELS naming the row's kernel header, and sets <objects-var> to the
# object, for the caller's target_sources.
#
# <target> is an object library that holds the compile settings either way:
# the directory's options (the sanitizers' among them), nembo_options and the
# row's flags and definitions. A GCC row compiles through it. A CLANG row
# cannot (CMake has one C++ compiler per tree), so a custom command compiles
# it with the C++ standard and the build type's flags, as every target gets
# them, and then the target's settings as CMake evaluates them, generator
# expressions expanded; the compiler's depfile gives the headers. Such a
# row's object is added by path, so the caller must be in the same
# directory. A custom command has no compile language: $<COMPILE_LANGUAGE>
# is false there, so options for these builds must not depend on it.
function(nembo_isa_object objects_var target build source namespace)
  set(flags ${NEMBO_ISA_${build}_FLAGS})
  if(NEMBO_SANITIZE)
    list(APPEND flags ${NEMBO_ISA_${build}_WITH_SANITIZERS})
  endif()
  set(kernels ${PROJECT_SOURCE_DIR}/solver/kernels/${NEMBO_ISA_${build}_KERNELS}.hpp)
  if(NOT NEMBO_ISA_${build}_CLANG)
    add_library(${target} OBJECT ${source})
    if(WIN32 AND flags)
      # Win64 guarantees only 16-byte stack alignment, and GCC may spill 256-
      # or 512-bit registers there with aligned moves: have the assembler make
      # every such move an unaligned one. (Clang realigns the stack instead.)
      list(APPEND flags -Wa,-muse-unaligned-vector-move)
    endif()
  else()
    add_library(${target} OBJECT ${kernels})
    set_target_properties(${target} PROPERTIES LINKER_LANGUAGE CXX)
  endif()
  target_compile_definitions(${target} PRIVATE
    NEMBO_VARIANT=${namespace}
    NEMBO_KERNELS="solver/kernels/${NEMBO_ISA_${build}_KERNELS}.hpp")
  target_compile_options(${target} PRIVATE ${flags})
  target_link_libraries(${target} PRIVATE nembo_options)
  if(NOT NEMBO_ISA_${build}_CLANG)
    set(${objects_var} $<TARGET_OBJECTS:${target}> PARENT_SCOPE)
    return()
  endif()

  find_program(NEMBO_ISA_CLANG NAMES clang++-19 REQUIRED)
  if(CMAKE_CXX_EXTENSIONS)
    set(standard ${CMAKE_CXX${CMAKE_CXX_STANDARD}_EXTENSION_COMPILE_OPTION})
  else()
    set(standard ${CMAKE_CXX${CMAKE_CXX_STANDARD}_STANDARD_COMPILE_OPTION})
  endif()
  string(TOUPPER "${CMAKE_BUILD_TYPE}" config)
  separate_arguments(build_type_flags UNIX_COMMAND "${CMAKE_CXX_FLAGS} ${CMAKE_CXX_FLAGS_${config}}")
  set(compiler ${NEMBO_ISA_CLANG})
  if(CMAKE_CROSSCOMPILING)
    list(APPEND compiler --target=x86_64-w64-mingw32)
  endif()
  # The tree links GCC's sanitizer runtimes. Clang's ThreadSanitizer calls
  # __tsan_memcpy, __tsan_memset and __tsan_memmove for memory intrinsics,
  # which GCC 12's runtime does not have; without that instrumentation clang
  # calls memcpy and memset, which the runtime intercepts, and writes small
  # fixed-size ones inline, unchecked, as GCC does with memset.
  if(NEMBO_SANITIZE MATCHES "thread")
    list(APPEND compiler -mllvm -tsan-instrument-memintrinsics=0)
  endif()
  set(options "$<TARGET_PROPERTY:${target},COMPILE_OPTIONS>")
  set(definitions "$<TARGET_PROPERTY:${target},COMPILE_DEFINITIONS>")
  set(includes "$<TARGET_PROPERTY:${target},INCLUDE_DIRECTORIES>")
  get_filename_component(stem ${source} NAME_WE)
  set(object ${CMAKE_CURRENT_BINARY_DIR}/${stem}_${build}${CMAKE_CXX_OUTPUT_EXTENSION})
  add_custom_command(
    OUTPUT ${object}
    COMMAND ${compiler} ${standard} ${build_type_flags}
            ${options}
            "$<$<BOOL:${includes}>:-I$<JOIN:${includes},;-I>>"
            "$<$<BOOL:${definitions}>:-D$<JOIN:${definitions},;-D>>"
            -MD -MF ${object}.d -c ${source} -o ${object}
    DEPENDS ${source}
    DEPFILE ${object}.d
    COMMENT "Building the ${build} copy of ${stem} with ${NEMBO_ISA_CLANG}"
    COMMAND_EXPAND_LISTS
    VERBATIM)
  target_sources(${target} PRIVATE ${object})
  set_source_files_properties(${object} PROPERTIES EXTERNAL_OBJECT TRUE GENERATED TRUE)
  set(${objects_var} ${object} PARENT_SCOPE)
endfunction()
