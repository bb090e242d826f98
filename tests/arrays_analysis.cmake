# velmoran_arrays' chromatograms, totals and picked peaks against the
# program's xic, scans and convert output (test_arrays_analysis.py), under
# the first interpreter on the machine that has numpy and pandas and whose
# version a module is built for (Debian's python3).
include(${PROJECT_SOURCE_DIR}/cmake/TestInterpreters.cmake)
velmoran_candidate_pythons(analysis_candidates)
get_property(analysis_modules GLOBAL PROPERTY VELMORAN_PYTHON_MODULES)
set(analysis_built_for "")
foreach(module IN LISTS analysis_modules)
  get_target_property(version ${module} VELMORAN_PYTHON_VERSION)
  list(APPEND analysis_built_for ${version})
endforeach()
foreach(exe IN LISTS analysis_candidates)
  execute_process(COMMAND ${exe} -c
      "import sys, numpy, pandas; sys.stdout.write('%d.%d' % sys.version_info[:2])"
    OUTPUT_VARIABLE analysis_version RESULT_VARIABLE analysis_status ERROR_QUIET TIMEOUT 60)
  if(analysis_status EQUAL 0 AND analysis_version IN_LIST analysis_built_for)
    string(REPLACE "." "" tag ${analysis_version})
    add_test(NAME python_arrays_analysis
      COMMAND ${exe} -m unittest -v test_arrays_analysis
      WORKING_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/python)
    set_tests_properties(python_arrays_analysis PROPERTIES
      LABELS python
      TIMEOUT 300
      ENVIRONMENT "PYTHONPATH=$<TARGET_FILE_DIR:velmoran_py${tag}>;PYTHONDONTWRITEBYTECODE=1;VELMORAN=$<TARGET_FILE:velmoran_cli>;VELMORAN_MKDATASET=$<TARGET_FILE:velmoran_mkdataset>;${numpy_sanitizer_env}")
    break()
  endif()
endforeach()

# The analysis library's shared rules in C++.
velmoran_add_test(analysis_test analysis_test.cpp)
target_link_libraries(analysis_test PRIVATE velmoran::analysis)
