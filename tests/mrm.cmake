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
