# The set-ups a newcomer meets: the main job built and run with no Node.js
# on PATH and the npm registry unreachable (its own Release tree, as
# scripts/demo.sh makes it), and scripts/install-deps.sh without a set.
# The release tree only.
if(VELMORAN_SANITIZE)
  return()
endif()
add_test(NAME install_deps_usage
  COMMAND sh -c [=[out=$("$0" 2>&1); status=$?; echo "$out"; [ $status -eq 2 ] &&
    echo "$out" | grep -q "^usage: scripts/install-deps.sh SET" &&
    for set in build python plot data view package test; do
      echo "$out" | grep -q "^  $set " || exit 1; done &&
    ! echo "$out" | grep -q installing]=]
    ${PROJECT_SOURCE_DIR}/scripts/install-deps.sh)
set_tests_properties(install_deps_usage PROPERTIES LABELS setup TIMEOUT 30)

if(EXISTS /usr/bin/python3)
  add_test(NAME demo_without_node
    COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/setup/demo_without_node.sh
      ${CMAKE_CURRENT_BINARY_DIR}/demo-without-node)
  # It compiles the program and the module once more, as the main job does.
  set_tests_properties(demo_without_node PROPERTIES LABELS setup TIMEOUT 2400)
endif()
