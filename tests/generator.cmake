# The synthetic-run generator and velmoran-mkdataset (tests/testkit.cmake)
# against the writer's own expectations.
velmoran_add_test(synthetic_run_test synthetic_run_test.cpp)
velmoran_add_test(mkdataset_cli_test mkdataset_cli_test.cpp)
add_dependencies(mkdataset_cli_test velmoran_mkdataset)
target_compile_definitions(mkdataset_cli_test PRIVATE
  VELMORAN_MKDATASET="$<TARGET_FILE:velmoran_mkdataset>")
