# The fuzz targets and their support, shared by the libFuzzer harnesses
# (fuzz/CMakeLists.txt) and the regression test that replays kept inputs in
# every build (tests/reliability.cmake).
set(VELMORAN_FUZZ_DIR ${CMAKE_CURRENT_LIST_DIR})
set(VELMORAN_FUZZ_TARGET_SOURCES
  ${VELMORAN_FUZZ_DIR}/check.cpp
  ${VELMORAN_FUZZ_DIR}/inputs.cpp
  ${VELMORAN_FUZZ_DIR}/seeds.cpp
  ${VELMORAN_FUZZ_DIR}/msscan_target.cpp
  ${VELMORAN_FUZZ_DIR}/lzf_target.cpp
  ${VELMORAN_FUZZ_DIR}/peak_target.cpp
  ${VELMORAN_FUZZ_DIR}/profile_target.cpp
  ${VELMORAN_FUZZ_DIR}/dataset_target.cpp)
set(VELMORAN_FUZZ_TARGET_NAMES msscan lzf peak profile dataset)
