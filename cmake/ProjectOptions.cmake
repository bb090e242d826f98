# Options and the compile settings shared by every target of the project.
#
# A plain configure builds the two libraries and the velmoran program.
# Developer mode (on in the presets, only where this is the top-level
# project) adds the tests, benchmarks, fuzzers and the Python module for
# every CPython on the machine; the pip build asks for the module alone.

if(PROJECT_IS_TOP_LEVEL)
  option(VELMORAN_DEVELOPER_MODE "Build tests, benchmarks and fuzzers" OFF)
else()
  set(VELMORAN_DEVELOPER_MODE OFF)
endif()
option(VELMORAN_BUILD_CLI "Build the velmoran program (needs CLI11, oneTBB, libdeflate, OpenSSL, MS-Numpress)" ON)
# The page of `velmoran view` draws with a charting library that npm fetches
# from its registry at build time. On by default where npm is found; the
# main job's build (scripts/demo.sh, scripts/convert.sh) turns it off so that
# it needs neither Node.js nor any registry but Debian's, and its program
# answers `velmoran view` with how to get the page (view/viewer_assets.cpp).
find_program(VELMORAN_NPM npm)
if(VELMORAN_NPM)
  set(viewer_assets_default ON)
else()
  set(viewer_assets_default OFF)
endif()
option(VELMORAN_BUILD_VIEWER_ASSETS
  "Embed the page of velmoran view and its charting library (needs npm and the npm registry)"
  ${viewer_assets_default})
if(VELMORAN_BUILD_CLI AND VELMORAN_BUILD_VIEWER_ASSETS AND NOT VELMORAN_NPM)
  message(FATAL_ERROR "velmoran: the viewer's page needs npm (scripts/install-deps.sh view); "
    "or configure with -DVELMORAN_BUILD_VIEWER_ASSETS=OFF")
endif()
option(VELMORAN_BUILD_PYTHON "Build the Python extension module" ${VELMORAN_DEVELOPER_MODE})
option(VELMORAN_BUILD_MKDATASET
  "Build the test-dataset generator velmoran-mkdataset without the tests (developer mode builds it anyway)" OFF)
option(VELMORAN_BUILD_BENCHMARKS "Build the benchmarks (developer mode)" ON)
option(VELMORAN_BUILD_FUZZERS "Build the libFuzzer harnesses (developer mode, clang)" OFF)
option(VELMORAN_WARNINGS_AS_ERRORS "Treat compiler warnings as errors" OFF)
set(VELMORAN_SANITIZE "" CACHE STRING
  "Sanitizers for the whole developer build, as -fsanitize= takes them (address,undefined or thread)")

# Install directories are named in the targets' include paths, so they are
# known before any target is made.
include(GNUInstallDirs)

set(CMAKE_CXX_STANDARD 20)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)
# The static libraries go into the Python module, a shared object.
set(CMAKE_POSITION_INDEPENDENT_CODE ON)

if(PROJECT_IS_TOP_LEVEL)
  # A build type the user chose is kept; none at all means Release.
  if(NOT CMAKE_BUILD_TYPE AND NOT CMAKE_CONFIGURATION_TYPES)
    set(CMAKE_BUILD_TYPE Release CACHE STRING "Build type" FORCE)
  endif()
endif()

if(VELMORAN_DEVELOPER_MODE)
  set(CMAKE_EXPORT_COMPILE_COMMANDS ON)
  if(VELMORAN_SANITIZE)
    add_compile_options(-fsanitize=${VELMORAN_SANITIZE} -fno-omit-frame-pointer)
    add_link_options(-fsanitize=${VELMORAN_SANITIZE})
    if(NOT VELMORAN_SANITIZE STREQUAL "thread")
      add_compile_options(-fno-sanitize-recover=all)
    endif()
  endif()
endif()

add_library(velmoran_warnings INTERFACE)
target_compile_options(velmoran_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion
  -Wold-style-cast -Wnon-virtual-dtor -Woverloaded-virtual
  $<$<BOOL:${VELMORAN_WARNINGS_AS_ERRORS}>:-Werror>)

# velmoran_use_warnings(target): project warnings, private to the target.
function(velmoran_use_warnings target)
  target_link_libraries(${target} PRIVATE $<BUILD_INTERFACE:velmoran_warnings>)
endfunction()

# velmoran_static_library(NAME SOURCES... [PUBLIC DEP...] [PRIVATE DEP...]):
# the static library velmoran_NAME (alias velmoran::NAME) with its include/
# directory public, linked to the DEPs, with the project warnings.
function(velmoran_static_library name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "PUBLIC;PRIVATE")
  add_library(velmoran_${name} STATIC ${arg_UNPARSED_ARGUMENTS})
  add_library(velmoran::${name} ALIAS velmoran_${name})
  target_include_directories(velmoran_${name} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/include)
  target_link_libraries(velmoran_${name} PUBLIC ${arg_PUBLIC} PRIVATE ${arg_PRIVATE})
  velmoran_use_warnings(velmoran_${name})
endfunction()
