# The writer of test datasets (shared by tests, benchmarks and fuzzers) with
# its synthetic-run generator, and the command-line tool velmoran-mkdataset.
# Neither needs a test framework: a build that asks for the generator alone
# (VELMORAN_BUILD_MKDATASET, as the main job's) builds just these.
add_library(velmoran_testkit STATIC
  support/dataset_writer.cpp
  support/synthetic_run.cpp
  support/gaussian_run.cpp
  support/expected_json.cpp)
target_include_directories(velmoran_testkit PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/support)
target_compile_features(velmoran_testkit PUBLIC cxx_std_20)
velmoran_use_warnings(velmoran_testkit)
# Expected profile m/z values are first + step * i with two roundings, as the
# decoder computes them: never fuse the multiply and the add.
set_source_files_properties(support/synthetic_run.cpp support/gaussian_run.cpp
  PROPERTIES COMPILE_OPTIONS -ffp-contract=off)

add_executable(velmoran_mkdataset support/mkdataset_main.cpp)
set_target_properties(velmoran_mkdataset PROPERTIES OUTPUT_NAME velmoran-mkdataset)
target_link_libraries(velmoran_mkdataset PRIVATE velmoran_testkit)
velmoran_use_warnings(velmoran_mkdataset)
