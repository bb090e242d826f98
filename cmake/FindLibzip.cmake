# FindLibzip: Debian's libzip-dev ships a CMake package that also names the
# zip tools (zipcmp, ...) of another Debian package and fails without them;
# the library and header are found directly. Defines Libzip::Libzip, global
# so that targets built from the export library's sources (bench/) see it.
include(${CMAKE_CURRENT_LIST_DIR}/ImportedLibrary.cmake)
velmoran_import_library(Libzip zip.h zip)
