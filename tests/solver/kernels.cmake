# The fused field-update kernels. Each kernel build is compiled in its own
# translation unit with its instruction-set flags; the test bodies and the
# scalar reference stay baseline code. Included from tests/solver/CMakeLists.txt.
set(_kernels_dir ${CMAKE_CURRENT_LIST_DIR})
nembo_add_test(kernels_test
  SOURCES ${_kernels_dir}/kernels_test.cpp ${_kernels_dir}/kernels_reference.cpp
          ${_kernels_dir}/kernels_fma.cpp ${_kernels_dir}/kernels_avx512.cpp
          ${_kernels_dir}/kernels_avx512vl.cpp
  LABELS solver)
set(_kernels_unaligned_spills "")
if(WIN32)
  # Win64 keeps the stack 16-byte aligned only; GCC may spill 256/512-bit
  # registers with aligned moves, so have the assembler emit unaligned ones.
  set(_kernels_unaligned_spills -Wa,-muse-unaligned-vector-move)
endif()
set_source_files_properties(${_kernels_dir}/kernels_fma.cpp PROPERTIES
  COMPILE_OPTIONS "-mavx2;-mfma;${_kernels_unaligned_spills}"
  COMPILE_DEFINITIONS NEMBO_VARIANT=test_fma)
set_source_files_properties(${_kernels_dir}/kernels_avx512.cpp PROPERTIES
  COMPILE_OPTIONS "-mavx512f;${_kernels_unaligned_spills}"
  COMPILE_DEFINITIONS NEMBO_VARIANT=test_avx512)
set_source_files_properties(${_kernels_dir}/kernels_avx512vl.cpp PROPERTIES
  COMPILE_OPTIONS "-mavx512f;-mavx512vl;${_kernels_unaligned_spills}"
  COMPILE_DEFINITIONS NEMBO_VARIANT=test_avx512vl)
