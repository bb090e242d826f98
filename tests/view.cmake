# velmoran view: the API against the commands and the writer's spectra, the
# token and Host checks, the page in headless Chromium, and a bounded load
# test on 127.0.0.1. Each test starts and stops its own server.
if(NOT TARGET velmoran_view)
  return()
endif()
velmoran_add_test(view_test view_test.cpp)
target_link_libraries(view_test PRIVATE velmoran::view)
# The cache's header is the library's own.
target_include_directories(view_test PRIVATE ${PROJECT_SOURCE_DIR}/view)

# The server's tests need the page (VELMORAN_BUILD_VIEWER_ASSETS, on in the presets).
if(NOT TARGET velmoran_cli OR NOT VELMORAN_TEST_PYTHON OR NOT VELMORAN_BUILD_VIEWER_ASSETS)
  return()
endif()

set(view_env
  "VELMORAN=$<TARGET_FILE:velmoran_cli>"
  "VELMORAN_MKDATASET=$<TARGET_FILE:velmoran_mkdataset>"
  "VIEW_ARTIFACTS=${CMAKE_CURRENT_BINARY_DIR}/view"
  "PYTHONPATH=${CMAKE_CURRENT_SOURCE_DIR}/view"
  "PYTHONDONTWRITEBYTECODE=1")
file(MAKE_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/view)

add_test(NAME view_api
  COMMAND ${VELMORAN_TEST_PYTHON} ${CMAKE_CURRENT_SOURCE_DIR}/view/view_api_test.py)
add_test(NAME view_load
  COMMAND ${VELMORAN_TEST_PYTHON} ${CMAKE_CURRENT_SOURCE_DIR}/view/view_load_test.py)
add_test(NAME view_protocol
  COMMAND ${VELMORAN_TEST_PYTHON} ${CMAKE_CURRENT_SOURCE_DIR}/view/view_protocol_test.py)
# Several runs in one server: /api/runs and /api/run/K/...
add_test(NAME view_runs
  COMMAND ${VELMORAN_TEST_PYTHON} ${CMAKE_CURRENT_SOURCE_DIR}/view/view_runs_test.py)
set_tests_properties(view_api view_load view_protocol view_runs PROPERTIES
  LABELS "cli;view" TIMEOUT 180 ENVIRONMENT "${view_env}")
# Alone, so that other tests do not take the time its clients are given.
set_tests_properties(view_load PROPERTIES RUN_SERIAL TRUE)
if(VELMORAN_SANITIZE MATCHES "address")
  # AddressSanitizer reserves its shadow memory up front: an address-space
  # limit stops it before the program starts, so view_protocol leaves that
  # case to the release tree.
  set_tests_properties(view_protocol PROPERTIES ENVIRONMENT "${view_env};VELMORAN_SANITIZED=1")
  # AddressSanitizer keeps up to 256 MiB of freed memory in quarantine,
  # which the test's memory bound would count as the server's.
  set_tests_properties(view_load PROPERTIES ENVIRONMENT
    "${view_env};ASAN_OPTIONS=detect_leaks=1:quarantine_size_mb=16")
endif()

# The page in Debian's Chromium, through Debian's python3 (python3-selenium and
# chromium-driver); the screenshot stays in the build tree as
# tests/view/view_browser_test.png.
find_program(VELMORAN_CHROMEDRIVER chromedriver)
if(VELMORAN_CHROMEDRIVER AND EXISTS /usr/bin/chromium AND EXISTS /usr/bin/python3)
  add_test(NAME view_browser
    COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/view/view_browser_test.py)
  set_tests_properties(view_browser PROPERTIES
    LABELS "cli;view;browser" TIMEOUT 180 ENVIRONMENT "${view_env}")
  # The session: a reload keeps the view, a bookmark says how to get in.
  add_test(NAME view_session_browser
    COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/view/view_session_browser_test.py)
  set_tests_properties(view_session_browser PROPERTIES
    LABELS "cli;view;browser" TIMEOUT 180 ENVIRONMENT "${view_env}")
endif()

# An MRM run's channel list in the browser (a trace toggles) and the
# channel routes of the API.
if(VELMORAN_CHROMEDRIVER AND EXISTS /usr/bin/chromium AND EXISTS /usr/bin/python3)
  add_test(NAME view_mrm_browser
    COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/view/view_mrm_browser_test.py)
  set_tests_properties(view_mrm_browser PROPERTIES
    LABELS "cli;view;browser;mrm" TIMEOUT 180 ENVIRONMENT "${view_env}")
endif()

# Several runs in the browser: the overlay, the run selector, the scan table.
if(VELMORAN_CHROMEDRIVER AND EXISTS /usr/bin/chromium AND EXISTS /usr/bin/python3)
  add_test(NAME view_runs_browser
    COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/view/view_runs_browser_test.py)
  set_tests_properties(view_runs_browser PROPERTIES
    LABELS "cli;view;browser" TIMEOUT 180 ENVIRONMENT "${view_env}")
endif()

# The page's tools: zoom kept across scans, keys, the view in the URL's
# fragment, exports against the API, a damaged run.
if(VELMORAN_CHROMEDRIVER AND EXISTS /usr/bin/chromium AND EXISTS /usr/bin/python3)
  add_test(NAME view_page_tools
    COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/view/view_page_tools_test.py)
  set_tests_properties(view_page_tools PROPERTIES
    LABELS "cli;view;browser" TIMEOUT 180 ENVIRONMENT "${view_env}")
endif()

# /api/map against a binning in numpy, through Debian's python3 (python3-numpy).
execute_process(COMMAND /usr/bin/python3 -c "import numpy"
  RESULT_VARIABLE view_map_numpy OUTPUT_QUIET ERROR_QUIET)
if(view_map_numpy EQUAL 0)
  add_test(NAME view_map
    COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/view/view_map_test.py)
  set_tests_properties(view_map PROPERTIES
    LABELS "cli;view" TIMEOUT 180 ENVIRONMENT "${view_env}")
endif()

# The map in the browser: drawn, a click selects, a drag zooms, the CSV
# export equals the API. The URL's fragment: another run drops the run's
# keys only; ranges too narrow for a double neither block the page nor
# freeze it.
if(VELMORAN_CHROMEDRIVER AND EXISTS /usr/bin/chromium AND EXISTS /usr/bin/python3)
  add_test(NAME view_map_browser
    COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/view/view_map_browser_test.py)
  add_test(NAME view_state_browser
    COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/view/view_state_browser_test.py)
  set_tests_properties(view_map_browser view_state_browser PROPERTIES
    LABELS "cli;view;browser" TIMEOUT 180 ENVIRONMENT "${view_env}")
endif()
