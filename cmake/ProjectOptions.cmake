# Options and the compile settings shared by every target of the project.

option(VELMORAN_DEVELOPER_MODE "Build tests, benchmarks and fuzzers" OFF)
option(VELMORAN_BUILD_CLI "Build the velmoran program (needs CLI11, oneTBB, libdeflate, OpenSSL)" ON)
option(VELMORAN_BUILD_PYTHON "Build the Python extension module" ON)
option(VELMORAN_BUILD_BENCHMARKS "Build the benchmarks (developer mode)" ON)
option(VELMORAN_BUILD_FUZZERS "Build the libFuzzer harnesses (developer mode, clang)" OFF)
option(VELMORAN_WARNINGS_AS_ERRORS "Treat compiler warnings as errors" OFF)

# Install directories are named in the targets' include paths, so they are
# known before any target is made.
include(GNUInstallDirs)

set(CMAKE_CXX_STANDARD 20)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)
set(CMAKE_POSITION_INDEPENDENT_CODE ON)
set(CMAKE_EXPORT_COMPILE_COMMANDS ON)

if(NOT CMAKE_BUILD_TYPE AND NOT CMAKE_CONFIGURATION_TYPES)
  set(CMAKE_BUILD_TYPE Release CACHE STRING "Build type" FORCE)
endif()

add_library(velmoran_warnings INTERFACE)
target_compile_options(velmoran_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion
  -Wold-style-cast -Wnon-virtual-dtor -Woverloaded-virtual
  # g++ 12 reports impossible overlaps inside libstdc++'s string
  # concatenation at -O3 (a false positive), so that check is left out.
  $<$<CXX_COMPILER_ID:GNU>:-Wno-restrict>
  $<$<BOOL:${VELMORAN_WARNINGS_AS_ERRORS}>:-Werror>)

# velmoran_use_warnings(target): project warnings, private to the target.
function(velmoran_use_warnings target)
  target_link_libraries(${target} PRIVATE $<BUILD_INTERFACE:velmoran_warnings>)
endfunction()
