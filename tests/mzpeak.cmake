# The Parquet writer (its hand-written encodings in C++) and what convert
# writes with it, read back by independent readers from npm.
if(NOT TARGET velmoran_parquet)
  return()
endif()
velmoran_add_test(parquet_writer_test parquet_writer_test.cpp)
target_link_libraries(parquet_writer_test PRIVATE velmoran::parquet)

# The script tests drive the release program and need node with npm.
if(NOT TARGET velmoran_cli OR VELMORAN_SANITIZE)
  return()
endif()
find_program(VELMORAN_NODE node)
find_program(VELMORAN_NPM npm)
if(NOT VELMORAN_NODE OR NOT VELMORAN_NPM)
  message(STATUS "velmoran: node or npm missing: the Parquet reader tests are not registered")
  return()
endif()
# The readers, installed from the committed lock into the build tree.
set(readers_dir ${CMAKE_CURRENT_BINARY_DIR}/parquet_readers)
add_test(NAME mzpeak_install_readers
  COMMAND ${CMAKE_COMMAND} -E chdir ${readers_dir} ${VELMORAN_NPM} ci --ignore-scripts --no-audit
    --no-fund --loglevel=error)
file(MAKE_DIRECTORY ${readers_dir})
configure_file(parquet_readers/package.json ${readers_dir}/package.json COPYONLY)
configure_file(parquet_readers/package-lock.json ${readers_dir}/package-lock.json COPYONLY)
configure_file(parquet_readers/read.mjs ${readers_dir}/read.mjs COPYONLY)
set_tests_properties(mzpeak_install_readers PROPERTIES
  FIXTURES_SETUP parquet_readers LABELS mzpeak TIMEOUT 300)

set(convert_work ${CMAKE_CURRENT_BINARY_DIR}/convert)
set(mzpeak_tests)
foreach(name IN ITEMS dda284 dda220 dda216 mrm196 mrm186 dda284ms2)
  add_test(NAME mzpeak_parquet_readback_${name}
    COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/mzpeak/parquet_cases.py readback
      $<TARGET_FILE:velmoran_cli> ${readers_dir} ${convert_work}/${name}.d
      ${convert_work}/${name}.json ${CMAKE_CURRENT_BINARY_DIR}/mzpeak/readback-${name})
  list(APPEND mzpeak_tests mzpeak_parquet_readback_${name})
endforeach()
foreach(case IN ITEMS options partitions failures recipes)
  add_test(NAME mzpeak_parquet_${case}
    COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/mzpeak/parquet_cases.py ${case}
      $<TARGET_FILE:velmoran_cli> ${readers_dir} ${convert_work}/dda284ms2.d
      ${convert_work}/dda284ms2.json ${CMAKE_CURRENT_BINARY_DIR}/mzpeak/${case})
  list(APPEND mzpeak_tests mzpeak_parquet_${case})
endforeach()
set_tests_properties(${mzpeak_tests} PROPERTIES
  FIXTURES_REQUIRED "convert_runs;parquet_readers"
  LABELS mzpeak
  SKIP_RETURN_CODE 77
  TIMEOUT 180)

# mzPeak archives: the draft's JSON schemas and the PSI-MS vocabulary come
# from a copy of the reference (by default beside the checkout).
set(VELMORAN_MZPEAK_REFERENCE ${PROJECT_SOURCE_DIR}/../shared/reference CACHE PATH
  "Directory holding mzpeak/schema/*.json and psi-ms.obo, for the mzPeak archive tests")
set(mzpeak_reference ${VELMORAN_MZPEAK_REFERENCE})
if(NOT EXISTS ${mzpeak_reference}/mzpeak/schema/mzpeak_index.json)
  message(STATUS "velmoran: no mzPeak reference at ${mzpeak_reference}: archive tests not registered")
  return()
endif()
set(archive_tests)
foreach(name IN ITEMS dda284 dda220 dda216 mrm196 mrm186 dda284ms2)
  foreach(layout IN ITEMS point chunk)
    foreach(case IN ITEMS readback conformance)
      add_test(NAME mzpeak_archive_${case}_${layout}_${name}
        COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/mzpeak/archive_cases.py ${case}
          ${layout} $<TARGET_FILE:velmoran_cli> ${readers_dir} ${mzpeak_reference}/mzpeak/schema
          ${mzpeak_reference}/psi-ms.obo ${convert_work}/${name}.d ${convert_work}/${name}.json
          ${CMAKE_CURRENT_BINARY_DIR}/mzpeak/archive-${case}-${layout}-${name})
      list(APPEND archive_tests mzpeak_archive_${case}_${layout}_${name})
    endforeach()
  endforeach()
endforeach()
# An MRM run with its transition list (the runs of tests/mrm.cmake).
foreach(layout IN ITEMS 196 186)
  add_test(NAME mzpeak_archive_mrm_${layout}
    COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/mzpeak/archive_cases.py mrm chunk
      $<TARGET_FILE:velmoran_cli> ${readers_dir} ${mzpeak_reference}/mzpeak/schema
      ${mzpeak_reference}/psi-ms.obo ${CMAKE_CURRENT_BINARY_DIR}/mrm/mrm${layout}.d
      ${CMAKE_CURRENT_BINARY_DIR}/mrm/mrm${layout}.json
      ${CMAKE_CURRENT_BINARY_DIR}/mzpeak/archive-mrm-${layout})
  set_tests_properties(mzpeak_archive_mrm_${layout} PROPERTIES
    FIXTURES_REQUIRED "mrm_runs;parquet_readers" LABELS mzpeak TIMEOUT 180)
endforeach()
set_tests_properties(${archive_tests} PROPERTIES
  FIXTURES_REQUIRED "convert_runs;parquet_readers"
  LABELS mzpeak
  SKIP_RETURN_CODE 77
  TIMEOUT 180)
