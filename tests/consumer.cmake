# The installed package, used from a separate project as a user would. A
# sanitizer build's libraries need the sanitizer runtime, so it is skipped
# there. It needs the dataset generator of generator.cmake.
if(CMAKE_CXX_FLAGS MATCHES "sanitize" OR NOT EXISTS ${CMAKE_CURRENT_LIST_DIR}/generator.cmake)
  return()
endif()
set(consumer_work ${CMAKE_CURRENT_BINARY_DIR}/consumer)
add_test(NAME consumer_dataset
  COMMAND $<TARGET_FILE:velmoran_mkdataset> synth ${consumer_work}/run.d --ms1 3 --ms2 6)
set_tests_properties(consumer_dataset PROPERTIES FIXTURES_SETUP consumer_dataset LABELS consumer)
add_test(NAME consumer_find_package
  COMMAND ${CMAKE_COMMAND}
    -DBUILD_DIR=${PROJECT_BINARY_DIR}
    -DSOURCE_DIR=${CMAKE_CURRENT_SOURCE_DIR}/consumer
    -DWORK_DIR=${consumer_work}/project
    -DDATASET=${consumer_work}/run.d
    -P ${CMAKE_CURRENT_SOURCE_DIR}/consumer/run.cmake)
set_tests_properties(consumer_find_package PROPERTIES
  FIXTURES_REQUIRED consumer_dataset LABELS consumer TIMEOUT 300)
