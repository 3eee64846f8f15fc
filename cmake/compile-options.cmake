# Flags shared by every target of the project.
add_library(nembo_options INTERFACE)
target_compile_options(nembo_options INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion
  # Fused multiply-add only where a kernel asks for it explicitly.
  -ffp-contract=off)
target_include_directories(nembo_options INTERFACE ${PROJECT_SOURCE_DIR})
# nembo.exe runs on Windows 7 SP1 x64 and later. With 0x0601 (Windows 7)
# the mingw-w64 headers hide most of what is newer (GetCurrentThreadStackLimits
# of Windows 8, for one), so calling it fails to compile. Not all of it:
# GetSystemTimePreciseAsFileTime (Windows 8) is declared whatever the
# version. The guard that counts is the package check, which compares the
# program's imports with packaging/windows-imports.txt.
if(WIN32)
  target_compile_definitions(nembo_options INTERFACE _WIN32_WINNT=0x0601 WINVER=0x0601 NOMINMAX WIN32_LEAN_AND_MEAN)
endif()

if(NEMBO_SANITIZE)
  add_compile_options(-fsanitize=${NEMBO_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${NEMBO_SANITIZE})
endif()

find_package(Threads REQUIRED)
target_link_libraries(nembo_options INTERFACE Threads::Threads)

# The shipped program is rebuilt byte for byte from any checkout: no path of
# the checkout in it (sources and the build tree below it appear relative to
# the checkout), no link time stamp, no symbols.
#
# On Linux it is a static position-independent executable: no program
# interpreter, no shared library, so it starts on any x86-64 kernel the C
# library supports (3.2 on) whatever C library the distribution has, and the
# kernel still places it at a random address. glibc 2.36 marks some of the
# functions that would load code at run time in a static program (the name
# services and dlopen) with link-time warnings, and every linker warning is
# an error here; iconv and the locale loading carry no such warning, so only
# the package check's run in an empty root, with and without a locale set,
# shows that nothing is loaded.
if(NEMBO_DIST)
  target_compile_options(nembo_options INTERFACE -ffile-prefix-map=${PROJECT_SOURCE_DIR}/=)
  add_link_options(-s)
  if(WIN32)
    add_link_options(-Wl,--no-insert-timestamp)
  else()
    target_compile_options(nembo_options INTERFACE -fPIE)
    add_link_options(-static-pie -Wl,--fatal-warnings)
  endif()
endif()
