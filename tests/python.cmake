# The Python tests of the module, once for every interpreter it is built for
# (python_tests_X.Y), with that interpreter's module first on PYTHONPATH and
# the dataset generator named by VELMORAN_MKDATASET.
# In a sanitizer build the module needs the sanitizer runtimes loaded before
# the interpreter starts; Python's own allocator is bypassed so that every
# allocation is checked, and leaks are reported at exit.
set(python_sanitizer_env "")
if(VELMORAN_SANITIZE MATCHES "address")
  set(runtimes "")
  foreach(runtime libasan.so libubsan.so)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${runtime}
      OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(IS_ABSOLUTE "${path}" AND EXISTS "${path}")
      list(APPEND runtimes ${path})
    endif()
  endforeach()
  list(JOIN runtimes " " preload)
  set(python_sanitizer_env
    "LD_PRELOAD=${preload}"
    "ASAN_OPTIONS=detect_leaks=1:quarantine_size_mb=0"
    "LSAN_OPTIONS=suppressions=${CMAKE_CURRENT_SOURCE_DIR}/python/lsan.supp:print_suppressions=0"
    "PYTHONMALLOC=malloc"
    "VELMORAN_SANITIZED=1")
endif()

get_property(velmoran_python_modules GLOBAL PROPERTY VELMORAN_PYTHON_MODULES)
foreach(module IN LISTS velmoran_python_modules)
  get_target_property(python ${module} VELMORAN_PYTHON_EXECUTABLE)
  get_target_property(version ${module} VELMORAN_PYTHON_VERSION)
  set(test_dir ${CMAKE_CURRENT_SOURCE_DIR}/python)
  add_test(NAME python_tests_${version}
    COMMAND ${python} -m unittest discover -s ${test_dir} -t ${test_dir}
    WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
  set_tests_properties(python_tests_${version} PROPERTIES
    LABELS python
    TIMEOUT 300
    ENVIRONMENT "PYTHONPATH=$<TARGET_FILE_DIR:${module}>;PYTHONDONTWRITEBYTECODE=1;VELMORAN_MKDATASET=$<$<TARGET_EXISTS:velmoran_mkdataset>:$<TARGET_FILE:velmoran_mkdataset>>;${python_sanitizer_env}")
endforeach()

# The numpy and pandas tests of velmoran_arrays once more under the first
# interpreter on the machine that has both (Debian's python3 with
# python3-numpy and python3-pandas) and whose version a module is built
# for: the interpreters the modules are built with may have neither.
include(${PROJECT_SOURCE_DIR}/cmake/TestInterpreters.cmake)
velmoran_candidate_pythons(numpy_candidates)
set(built_for "")
foreach(module IN LISTS velmoran_python_modules)
  get_target_property(version ${module} VELMORAN_PYTHON_VERSION)
  list(APPEND built_for ${version})
endforeach()
# Under the sanitizers without leak checks: that interpreter keeps code
# objects of numpy's and pandas' imports to the end, and the module's own
# leaks are checked by python_tests_X.Y, which run the same code.
string(REPLACE "detect_leaks=1" "detect_leaks=0" numpy_sanitizer_env "${python_sanitizer_env}")
foreach(exe IN LISTS numpy_candidates)
  execute_process(COMMAND ${exe} -c
      "import sys, numpy, pandas; sys.stdout.write('%d.%d' % sys.version_info[:2])"
    OUTPUT_VARIABLE numpy_version RESULT_VARIABLE numpy_status ERROR_QUIET TIMEOUT 60)
  if(numpy_status EQUAL 0 AND numpy_version IN_LIST built_for)
    string(REPLACE "." "" tag ${numpy_version})
    set(test_dir ${CMAKE_CURRENT_SOURCE_DIR}/python)
    add_test(NAME python_numpy_tests_${numpy_version}
      COMMAND ${exe} -m unittest discover -s ${test_dir} -t ${test_dir} -p "test_arrays_numpy.py"
      WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
    set_tests_properties(python_numpy_tests_${numpy_version} PROPERTIES
      LABELS python
      TIMEOUT 300
      ENVIRONMENT "PYTHONPATH=$<TARGET_FILE_DIR:velmoran_py${tag}>;PYTHONDONTWRITEBYTECODE=1;VELMORAN_MKDATASET=$<$<TARGET_EXISTS:velmoran_mkdataset>:$<TARGET_FILE:velmoran_mkdataset>>;${numpy_sanitizer_env}")
    break()
  endif()
endforeach()
