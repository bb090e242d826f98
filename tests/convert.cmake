# The convert command and its export library: the library's own rules in
# C++, then every layout of generated run read back by independent readers
# (OpenMS, pymzML) and the command's behaviour on bad input and full disks.
if(NOT TARGET velmoran_export)
  return()
endif()
velmoran_add_test(convert_test convert_test.cpp)
target_link_libraries(convert_test PRIVATE velmoran::export)
find_package(ZLIB REQUIRED)
velmoran_add_test(parallel_gzip_test parallel_gzip_test.cpp)
target_link_libraries(parallel_gzip_test PRIVATE velmoran::export ZLIB::ZLIB)
# The gzip workers under ThreadSanitizer too (ctest -L threads); the label
# is set as for threads_test (reliability.cmake).
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/parallel_gzip_test_labels.cmake [[
if(parallel_gzip_test_TESTS)
  set_tests_properties(${parallel_gzip_test_TESTS} PROPERTIES LABELS "cpp;threads")
endif()
]])
set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES
  ${CMAKE_CURRENT_BINARY_DIR}/parallel_gzip_test_labels.cmake)

# Debian's MS-Numpress library: the oracle of our numpress encoders.
list(APPEND CMAKE_MODULE_PATH ${PROJECT_SOURCE_DIR}/cmake)
find_package(MSNumpress REQUIRED)
velmoran_add_test(numpress_test numpress_test.cpp)
target_link_libraries(numpress_test PRIVATE velmoran::export MSNumpress::MSNumpress)

# The script tests drive the release program; a sanitizer tree runs the
# C++ tests only.
if(NOT TARGET velmoran_cli OR VELMORAN_SANITIZE)
  return()
endif()

set(convert_work ${CMAKE_CURRENT_BINARY_DIR}/convert)
set(convert_runs
  "dda284|synth|--layout|284|--ms1|6|--ms2|18|--points|3000|--peaks|80"
  "dda220|synth|--layout|220|--ms1|5|--ms2|15|--peaks|60"
  "dda216|synth|--layout|216|--ms1|5|--ms2|15|--peaks|60"
  "mrm196|mrm|--layout|196|--scans|40"
  "mrm186|mrm|--layout|186|--scans|40"
  "dda284ms2|synth|--layout|284|--ms1|4|--ms2|12|--points|4000|--peaks|60|--profile-ms2")
# A run whose scan table holds NaN, infinite and oversized values.
add_test(NAME convert_make_damaged_values
  COMMAND $<TARGET_FILE:velmoran_mkdataset> synth ${convert_work}/values.d --ms1 6 --ms2 12
    --points 500 --peaks 20 --seed 11 --damage)
set(convert_run_tests convert_make_damaged_values)
foreach(entry IN LISTS convert_runs)
  string(REPLACE "|" ";" args "${entry}")
  list(POP_FRONT args name mode)
  add_test(NAME convert_make_${name}
    COMMAND $<TARGET_FILE:velmoran_mkdataset> ${mode} ${convert_work}/${name}.d ${args}
      --seed 11 --expect ${convert_work}/${name}.json)
  list(APPEND convert_run_tests convert_make_${name})
endforeach()
set_tests_properties(${convert_run_tests} PROPERTIES FIXTURES_SETUP convert_runs LABELS convert)

# Debian's python3, where python3-pymzml is installed.
set(convert_python /usr/bin/python3)
set(velmoran $<TARGET_FILE:velmoran_cli>)
set(convert_tests)
foreach(entry IN LISTS convert_runs)
  string(REPLACE "|" ";" args "${entry}")
  list(GET args 0 name)
  add_test(NAME convert_readback_${name}
    COMMAND ${convert_python} ${CMAKE_CURRENT_SOURCE_DIR}/convert/check_mzml.py
      ${velmoran} ${convert_work}/${name}.d ${convert_work}/${name}.json
      ${convert_work}/readback-${name})
  list(APPEND convert_tests convert_readback_${name})
endforeach()
add_test(NAME convert_cli_damaged_values
  COMMAND ${convert_python} ${CMAKE_CURRENT_SOURCE_DIR}/convert/cli_cases.py damaged_values
    ${velmoran} ${convert_work}/values.d - ${convert_work}/cli-damaged_values)
list(APPEND convert_tests convert_cli_damaged_values)
foreach(case IN ITEMS mgf batch usage full_device full_filesystem damaged chromatograms names
                      no_spectra)
  add_test(NAME convert_cli_${case}
    COMMAND ${convert_python} ${CMAKE_CURRENT_SOURCE_DIR}/convert/cli_cases.py ${case}
      ${velmoran} ${convert_work}/dda284.d ${convert_work}/dda284.json
      ${convert_work}/cli-${case})
  list(APPEND convert_tests convert_cli_${case})
endforeach()
# Centroids, filters and gzip on the run whose fragment scans have a
# profile beside the instrument's centroids.
foreach(case IN ITEMS centroid filters gzip validate order usage)
  add_test(NAME convert_peaks_${case}
    COMMAND ${convert_python} ${CMAKE_CURRENT_SOURCE_DIR}/convert/peaks_cases.py ${case}
      ${velmoran} ${convert_work}/dda284ms2.d ${convert_work}/dda284ms2.json
      ${convert_work}/peaks-${case})
  list(APPEND convert_tests convert_peaks_${case})
endforeach()
set_tests_properties(${convert_tests} PROPERTIES
  FIXTURES_REQUIRED convert_runs
  LABELS convert
  SKIP_RETURN_CODE 77
  TIMEOUT 120)
