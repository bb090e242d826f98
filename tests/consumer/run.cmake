# Installs the library into a scratch prefix, then configures, builds and
# runs the consumer project against the installed package.
#   KIND=static: installs the build tree BUILD_DIR.
#   KIND=shared: configures PROJECT_SOURCE as a user would (no options but
#     BUILD_SHARED_LIBS=ON), builds and installs it, and checks that the
#     shared libraries export the API alone and that no Python module was
#     built.
# Either way the installed headers must be the public ones alone, and the
# consumer's include path the prefix's include/ directory.
# The installed velmoran program must start without LD_LIBRARY_PATH, and a
# shared install again once its prefix has been moved.
cmake_policy(VERSION 3.25)
foreach(var KIND BUILD_DIR PROJECT_SOURCE CXX_COMPILER SOURCE_DIR WORK_DIR DATASET)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "${var} not set")
  endif()
endforeach()

file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "failed (${rc}): ${ARGN}\n${out}")
  endif()
  set(last_output "${out}" PARENT_SCOPE)
endfunction()

if(KIND STREQUAL "static")
  run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
else()
  set(library_build ${WORK_DIR}/library)
  run(${CMAKE_COMMAND} -S ${PROJECT_SOURCE} -B ${library_build} -G Ninja
      -DCMAKE_CXX_COMPILER=${CXX_COMPILER} -DBUILD_SHARED_LIBS=ON)
  run(${CMAKE_COMMAND} --build ${library_build} -j 2)
  if(EXISTS ${library_build}/python)
    message(FATAL_ERROR "a plain library build built the Python module")
  endif()
  run(${CMAKE_COMMAND} --install ${library_build} --prefix ${prefix})
endif()

# The public headers, and nothing of the library's internals.
file(GLOB_RECURSE installed RELATIVE ${prefix}/include ${prefix}/include/*)
list(SORT installed)
set(public_headers
  quorlith/source.hpp quorlith/types.hpp quorlith/visibility.hpp
  velmoran/error.hpp velmoran/peak_picking.hpp velmoran/raw/msscan.hpp velmoran/reader.hpp
  velmoran/representation.hpp
  velmoran/result.hpp velmoran/utf8.hpp velmoran/visibility.hpp)
if(NOT installed STREQUAL public_headers)
  message(FATAL_ERROR "installed headers: ${installed}\nexpected: ${public_headers}")
endif()

if(KIND STREQUAL "shared")
  # Every exported velmoran symbol belongs to the API: the reader, its
  # error, the scan table, what a spectrum's points are, the UTF-8 rule,
  # the peak picker.
  find_program(nm NAMES nm REQUIRED)
  file(GLOB shared_libraries ${prefix}/lib*/libvelmoran_reader.so)
  if(NOT shared_libraries)
    message(FATAL_ERROR "no libvelmoran_reader.so installed")
  endif()
  run(${nm} -D -C --defined-only ${shared_libraries})
  string(REPLACE "\n" ";" symbols "${last_output}")
  list(FILTER symbols INCLUDE REGEX "velmoran::")
  list(FILTER symbols EXCLUDE REGEX
    "velmoran::(Error|Reader|raw::MSScan|operator<<|representation_of|representation_name|next_utf8|utf8_lossy|pick_peaks)")
  if(symbols)
    message(FATAL_ERROR "libvelmoran_reader.so exports private symbols:\n${symbols}")
  endif()
endif()

run(${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${WORK_DIR}/build -G Ninja
    -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_BUILD_TYPE=Release
    -DCMAKE_CXX_COMPILER=${CXX_COMPILER} -DCMAKE_EXPORT_COMPILE_COMMANDS=ON)
run(${CMAKE_COMMAND} --build ${WORK_DIR}/build)
file(READ ${WORK_DIR}/build/compile_commands.json commands)
if(commands MATCHES "include/(velmoran|quorlith)[\" ]")
  message(FATAL_ERROR "a package directory is on the consumer's include path:\n${commands}")
endif()
run(${WORK_DIR}/build/count_scans ${DATASET})
message(STATUS "consumer (${KIND}): ${last_output}")
if(NOT last_output STREQUAL "run.d: 9 scans, 9 with data\n")
  message(FATAL_ERROR "unexpected consumer output: ${last_output}")
endif()

# The installed program starts as installed, without LD_LIBRARY_PATH, and
# a shared install still starts once its prefix is moved: it finds its
# libraries relative to itself.
function(run_program program)
  run(${CMAKE_COMMAND} -E env --unset=LD_LIBRARY_PATH ${program} info ${DATASET})
  if(NOT last_output MATCHES "scans +9\n")
    message(FATAL_ERROR "${program} info: ${last_output}")
  endif()
endfunction()
if(KIND STREQUAL "shared" AND NOT EXISTS ${prefix}/bin/velmoran)
  message(FATAL_ERROR "no bin/velmoran installed")
endif()
if(EXISTS ${prefix}/bin/velmoran)
  run_program(${prefix}/bin/velmoran)
  if(KIND STREQUAL "shared")
    file(RENAME ${prefix} ${WORK_DIR}/moved)
    run_program(${WORK_DIR}/moved/bin/velmoran)
  endif()
endif()
