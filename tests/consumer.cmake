# The installed package, used from a separate project as a user would:
# consumer_static installs this build tree (static libraries);
# consumer_shared configures the sources as a plain library with
# BUILD_SHARED_LIBS=ON, installs that and checks that the shared libraries
# export the API alone. A sanitizer build's libraries need the sanitizer
# runtime, so both are skipped there.
if(VELMORAN_SANITIZE)
  return()
endif()
set(consumer_work ${CMAKE_CURRENT_BINARY_DIR}/consumer)
add_test(NAME consumer_dataset
  COMMAND $<TARGET_FILE:velmoran_mkdataset> synth ${consumer_work}/run.d --ms1 3 --ms2 6)
set_tests_properties(consumer_dataset PROPERTIES FIXTURES_SETUP consumer_dataset LABELS consumer)
foreach(kind IN ITEMS static shared)
  add_test(NAME consumer_${kind}
    COMMAND ${CMAKE_COMMAND}
      -DKIND=${kind}
      -DBUILD_DIR=${PROJECT_BINARY_DIR}
      -DPROJECT_SOURCE=${PROJECT_SOURCE_DIR}
      -DCXX_COMPILER=${CMAKE_CXX_COMPILER}
      -DSOURCE_DIR=${CMAKE_CURRENT_SOURCE_DIR}/consumer
      -DWORK_DIR=${consumer_work}/${kind}
      -DDATASET=${consumer_work}/run.d
      -P ${CMAKE_CURRENT_SOURCE_DIR}/consumer/run.cmake)
  set_tests_properties(consumer_${kind} PROPERTIES
    FIXTURES_REQUIRED consumer_dataset LABELS consumer TIMEOUT 600)
endforeach()
