# The synthetic-run generator (part of the test writer) and its command-line
# tool, velmoran-mkdataset, used by the Python tests and the benchmarks.
target_sources(velmoran_testkit PRIVATE
  support/synthetic_run.cpp
  support/gaussian_run.cpp
  support/expected_json.cpp)
# Expected profile m/z values are first + step * i with two roundings, as the
# decoder computes them: never fuse the multiply and the add.
set_source_files_properties(support/synthetic_run.cpp support/gaussian_run.cpp
  PROPERTIES COMPILE_OPTIONS -ffp-contract=off)

add_executable(velmoran_mkdataset support/mkdataset_main.cpp)
set_target_properties(velmoran_mkdataset PROPERTIES OUTPUT_NAME velmoran-mkdataset)
target_link_libraries(velmoran_mkdataset PRIVATE velmoran_testkit)
velmoran_use_warnings(velmoran_mkdataset)

velmoran_add_test(synthetic_run_test synthetic_run_test.cpp)
velmoran_add_test(mkdataset_cli_test mkdataset_cli_test.cpp)
add_dependencies(mkdataset_cli_test velmoran_mkdataset)
target_compile_definitions(mkdataset_cli_test PRIVATE
  VELMORAN_MKDATASET="$<TARGET_FILE:velmoran_mkdataset>")
