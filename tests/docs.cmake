# Every shell and Python block of README.md and docs/*.md runs on the
# example run of the main job (tests/docs/doc_snippets.py; a block that
# cannot run in a test says so in its info string, ```sh no-run). The
# release tree only. The Python blocks run under the first interpreter that
# has numpy and pandas (Debian's python3 with python3-numpy and
# python3-pandas) and a module built for its version.
if(VELMORAN_SANITIZE OR NOT TARGET velmoran_cli OR NOT TARGET velmoran_mkdataset)
  return()
endif()
include(${PROJECT_SOURCE_DIR}/cmake/TestInterpreters.cmake)
velmoran_candidate_pythons(doc_candidates)
list(APPEND doc_candidates /usr/bin/python3)
get_property(doc_modules GLOBAL PROPERTY VELMORAN_PYTHON_MODULES)
foreach(exe IN LISTS doc_candidates)
  execute_process(COMMAND ${exe} -c
      "import sys, numpy, pandas; sys.stdout.write('%d%d' % sys.version_info[:2])"
    OUTPUT_VARIABLE doc_tag RESULT_VARIABLE doc_status ERROR_QUIET TIMEOUT 60)
  if(doc_status EQUAL 0 AND velmoran_py${doc_tag} IN_LIST doc_modules)
    file(GLOB doc_files CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/docs/*.md)
    add_test(NAME doc_snippets
      COMMAND ${exe} ${CMAKE_CURRENT_SOURCE_DIR}/docs/doc_snippets.py
        --work ${CMAKE_CURRENT_BINARY_DIR}/doc_snippets --python ${exe}
        ${PROJECT_SOURCE_DIR}/README.md ${doc_files})
    set_tests_properties(doc_snippets PROPERTIES
      LABELS "docs" TIMEOUT 900
      ENVIRONMENT "VELMORAN=$<TARGET_FILE:velmoran_cli>;VELMORAN_MKDATASET=$<TARGET_FILE:velmoran_mkdataset>;PYTHONPATH=$<TARGET_FILE_DIR:velmoran_py${doc_tag}>")
    return()
  endif()
endforeach()
message(STATUS "velmoran: no interpreter with numpy, pandas and a built module: doc_snippets not registered")
