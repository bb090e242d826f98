# MRM runs read as chromatograms: both MRM layouts, with and without a
# transition list, read back by pymzML and OpenMS against the generator's
# expected spectra; the transition-list errors and the info and
# chromatograms commands. The release program only.
if(NOT TARGET velmoran_cli OR VELMORAN_SANITIZE)
  return()
endif()

set(mrm_work ${CMAKE_CURRENT_BINARY_DIR}/mrm)
foreach(layout IN ITEMS 196 186)
  add_test(NAME mrm_make_${layout}
    COMMAND $<TARGET_FILE:velmoran_mkdataset> mrm ${mrm_work}/mrm${layout}.d --layout ${layout}
      --scans 60 --seed 13 --expect ${mrm_work}/mrm${layout}.json
      --transitions ${mrm_work}/mrm${layout}.csv)
  set_tests_properties(mrm_make_${layout} PROPERTIES FIXTURES_SETUP mrm_runs LABELS mrm)
  # Debian's python3, where python3-pymzml is installed.
  add_test(NAME mrm_chromatograms_mzml_${layout}
    COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/mrm/check_mrm.py
      $<TARGET_FILE:velmoran_cli> ${mrm_work}/mrm${layout}.d ${mrm_work}/mrm${layout}.json
      ${mrm_work}/mrm${layout}.csv ${mrm_work}/readback-${layout})
  set_tests_properties(mrm_chromatograms_mzml_${layout} PROPERTIES
    FIXTURES_REQUIRED mrm_runs LABELS "mrm;convert" SKIP_RETURN_CODE 77 TIMEOUT 120)
endforeach()

find_program(VELMORAN_TEST_PYTHON NAMES python3)
if(VELMORAN_TEST_PYTHON)
  add_test(NAME mrm_cli
    COMMAND ${VELMORAN_TEST_PYTHON} ${CMAKE_CURRENT_SOURCE_DIR}/mrm/mrm_cli_test.py)
  set_tests_properties(mrm_cli PROPERTIES
    LABELS "mrm;cli"
    TIMEOUT 120
    ENVIRONMENT "VELMORAN=$<TARGET_FILE:velmoran_cli>;VELMORAN_MKDATASET=$<TARGET_FILE:velmoran_mkdataset>;PYTHONDONTWRITEBYTECODE=1")
endif()

# velmoran_arrays' channels equal the chromatograms of the program's mzML,
# under the first interpreter the module is built for (the tests of every
# interpreter run the rest of the file without the program).
get_property(mrm_python_modules GLOBAL PROPERTY VELMORAN_PYTHON_MODULES)
if(mrm_python_modules)
  list(GET mrm_python_modules 0 mrm_module)
  get_target_property(mrm_python ${mrm_module} VELMORAN_PYTHON_EXECUTABLE)
  add_test(NAME mrm_python_equals_mzml
    COMMAND ${mrm_python} -m unittest test_arrays_channels.EqualsMzmlTest
    WORKING_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/python)
  set_tests_properties(mrm_python_equals_mzml PROPERTIES
    LABELS "mrm;python"
    TIMEOUT 120
    ENVIRONMENT "PYTHONPATH=$<TARGET_FILE_DIR:${mrm_module}>;PYTHONDONTWRITEBYTECODE=1;VELMORAN=$<TARGET_FILE:velmoran_cli>;VELMORAN_MKDATASET=$<TARGET_FILE:velmoran_mkdataset>")
endif()
