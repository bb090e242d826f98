# velmoran qc and Run.qc(): each metric against numpy, the mzQC schema
# (../shared/reference), the batch table and its outliers. Debian's python3
# with numpy and jsonschema, and the modules built for its version.
if(TARGET velmoran_cli AND NOT VELMORAN_SANITIZE)
  execute_process(COMMAND /usr/bin/python3 -c
      "import sys, numpy, jsonschema; sys.stdout.write('%d.%d' % sys.version_info[:2])"
    OUTPUT_VARIABLE qc_python_version RESULT_VARIABLE qc_python_status ERROR_QUIET TIMEOUT 60)
  string(REPLACE "." "" qc_tag "${qc_python_version}")
  if(qc_python_status EQUAL 0 AND TARGET velmoran_py${qc_tag})
    add_test(NAME qc_metrics
      COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/qc/qc_test.py)
    set_tests_properties(qc_metrics PROPERTIES
      LABELS "cli;python"
      TIMEOUT 300
      ENVIRONMENT "VELMORAN=$<TARGET_FILE:velmoran_cli>;VELMORAN_MKDATASET=$<TARGET_FILE:velmoran_mkdataset>;PYTHONPATH=$<TARGET_FILE_DIR:velmoran_py${qc_tag}>;PYTHONDONTWRITEBYTECODE=1")
  else()
    message(STATUS "velmoran: qc_metrics test needs /usr/bin/python3 with numpy and jsonschema")
  endif()
endif()

# The batch report in Debian's Chromium (python3-selenium, chromium-driver),
# when the program embeds it.
find_program(VELMORAN_CHROMEDRIVER chromedriver)
if(TARGET velmoran_cli AND VELMORAN_BUILD_VIEWER_ASSETS AND NOT VELMORAN_SANITIZE AND VELMORAN_CHROMEDRIVER
   AND EXISTS /usr/bin/chromium AND EXISTS /usr/bin/python3)
  add_test(NAME qc_report_browser
    COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/qc/qc_report_test.py)
  set_tests_properties(qc_report_browser PROPERTIES
    LABELS "cli;browser" TIMEOUT 180
    ENVIRONMENT "VELMORAN=$<TARGET_FILE:velmoran_cli>;VELMORAN_MKDATASET=$<TARGET_FILE:velmoran_mkdataset>;PYTHONPATH=${CMAKE_CURRENT_SOURCE_DIR}/view;PYTHONDONTWRITEBYTECODE=1")
endif()
