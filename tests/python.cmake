# The Python tests of the module, once for every interpreter it is built for
# (python_tests_X.Y), with that interpreter's module first on PYTHONPATH and
# the dataset generator named by VELMORAN_MKDATASET.
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
    ENVIRONMENT "PYTHONPATH=$<TARGET_FILE_DIR:${module}>;PYTHONDONTWRITEBYTECODE=1;VELMORAN_MKDATASET=$<$<TARGET_EXISTS:velmoran_mkdataset>:$<TARGET_FILE:velmoran_mkdataset>>")
endforeach()
