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
# The export path, where the export library is built: the targets that
# include it define VELMORAN_FUZZ_EXPORT and link the export library,
# libdeflate and MS-Numpress (the decoders of the round trip).
if(TARGET velmoran_export)
  list(APPEND VELMORAN_FUZZ_TARGET_SOURCES ${VELMORAN_FUZZ_DIR}/export_target.cpp)
  list(APPEND VELMORAN_FUZZ_TARGET_NAMES export)
  set(VELMORAN_FUZZ_EXPORT ON)
else()
  set(VELMORAN_FUZZ_EXPORT OFF)
endif()
