# Reliability: fuzz-target replay, hostile counts, damaged datasets and
# concurrent iteration.

# The fuzz targets, built as the tests are; the harnesses themselves live in
# fuzz/ (developer mode with VELMORAN_BUILD_FUZZERS, clang).
include(${PROJECT_SOURCE_DIR}/fuzz/sources.cmake)
add_library(velmoran_fuzz_targets STATIC ${VELMORAN_FUZZ_TARGET_SOURCES})
target_include_directories(velmoran_fuzz_targets PUBLIC ${VELMORAN_FUZZ_DIR})
target_link_libraries(velmoran_fuzz_targets PUBLIC velmoran_reader_internal velmoran_testkit)
target_compile_options(velmoran_fuzz_targets PRIVATE -ffp-contract=off)
if(VELMORAN_FUZZ_EXPORT)
  list(APPEND CMAKE_MODULE_PATH ${PROJECT_SOURCE_DIR}/cmake)
  find_package(Libdeflate REQUIRED)
  find_package(MSNumpress REQUIRED)
  target_compile_definitions(velmoran_fuzz_targets PUBLIC VELMORAN_FUZZ_EXPORT)
  target_link_libraries(velmoran_fuzz_targets PUBLIC velmoran::export Libdeflate::Libdeflate
                                                     MSNumpress::MSNumpress)
endif()
velmoran_use_warnings(velmoran_fuzz_targets)

velmoran_add_test(fuzz_regression_test fuzz_regression_test.cpp)
target_link_libraries(fuzz_regression_test PRIVATE velmoran_fuzz_targets)
target_compile_definitions(fuzz_regression_test PRIVATE
  VELMORAN_FUZZ_REGRESSIONS="${VELMORAN_FUZZ_DIR}/regressions")

velmoran_add_test(hostile_test hostile_test.cpp)
velmoran_add_test(damaged_dataset_test damaged_dataset_test.cpp)

# Several sequences over one Reader on several threads; labelled so that a
# ThreadSanitizer build can select them (ctest -L threads).
# The engines behind velmoran_arrays' workers (analysis/) are tested here
# too, also where the Python modules are not built (the tsan preset).
add_executable(threads_test threads_test.cpp)
target_link_libraries(threads_test PRIVATE
  velmoran::analysis velmoran_reader_internal velmoran_testkit GTest::gtest_main)
velmoran_use_warnings(threads_test)
find_package(Threads REQUIRED)
target_link_libraries(threads_test PRIVATE Threads::Threads)
gtest_discover_tests(threads_test DISCOVERY_TIMEOUT 30 PROPERTIES LABELS cpp)
# The ordered pipeline, and the conversion and XIC that run in it, on
# several threads: labelled for the ThreadSanitizer build as well.
if(TARGET velmoran_export AND TARGET velmoran_inspect)
  find_package(TBB REQUIRED)
  add_executable(pipeline_test pipeline_test.cpp)
  target_link_libraries(pipeline_test PRIVATE
    velmoran::export velmoran::inspect velmoran::pipeline velmoran_testkit TBB::tbb GTest::gtest_main)
  velmoran_use_warnings(pipeline_test)
  gtest_discover_tests(pipeline_test DISCOVERY_TIMEOUT 30 PROPERTIES LABELS cpp)
endif()
# Discovery flattens a list given as a property value, so the second label
# is set after it, on the lists of tests that it leaves in
# threads_test_TESTS and pipeline_test_TESTS.
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/threads_test_labels.cmake [[
foreach(tests IN ITEMS threads_test_TESTS pipeline_test_TESTS)
  if(${tests})
    set_tests_properties(${${tests}} PROPERTIES LABELS "cpp;threads")
  endif()
endforeach()
]])
set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES
  ${CMAKE_CURRENT_BINARY_DIR}/threads_test_labels.cmake)

# The peak modes the workers read spectra in.
target_link_libraries(threads_test PRIVATE velmoran::analysis)
