# FindLibdeflate: Debian's libdeflate ships a pkg-config file but no CMake
# package. Defines Libdeflate::Libdeflate.
include(${CMAKE_CURRENT_LIST_DIR}/ImportedLibrary.cmake)
velmoran_import_library(Libdeflate libdeflate.h deflate libdeflate)
