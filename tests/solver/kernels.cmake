# The kernel tests of the instruction-set builds. kernels_build.cpp is
# compiled once per row of cmake/isa-builds.cmake, with that row's flags and
# compiler, into nembo::test_<build>; the test bodies and the scalar reference
# stay baseline code. kernel_builds.inc gives kernels_test.cpp a case per
# --isa name of each row. Included from tests/solver/CMakeLists.txt.
set(_kernels_dir ${CMAKE_CURRENT_LIST_DIR})
set(_kernel_objects "")
set(_kernel_cases "")
foreach(_build IN LISTS NEMBO_ISA_BUILDS)
  nembo_isa_object(_objects kernels_test_${_build} ${_build} ${_kernels_dir}/kernels_build.cpp test_${_build})
  list(APPEND _kernel_objects ${_objects})
  foreach(_isa IN LISTS NEMBO_ISA_${_build}_ISAS)
    string(APPEND _kernel_cases "NEMBO_KERNEL_BUILD(${_build}, ${NEMBO_ISA_${_build}_KERNELS}, \"${_isa}\")\n")
  endforeach()
endforeach()
file(CONFIGURE OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/kernel_builds.inc
  CONTENT "// Written by tests/solver/kernels.cmake from cmake/isa-builds.cmake.\n${_kernel_cases}" @ONLY)

nembo_add_test(kernels_test
  SOURCES ${_kernels_dir}/kernels_test.cpp ${_kernels_dir}/kernels_reference.cpp ${_kernel_objects}
  LIBS nembo_solver
  LABELS solver)
target_include_directories(kernels_test PRIVATE ${CMAKE_CURRENT_BINARY_DIR})
