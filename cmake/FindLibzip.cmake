# FindLibzip: Debian's libzip-dev ships a CMake package that also names the
# zip tools (zipcmp, ...) of another Debian package and fails without them;
# the library and header are found directly. Defines Libzip::Libzip, global
# so that targets built from the export library's sources (bench/) see it.
find_path(Libzip_INCLUDE_DIR zip.h)
find_library(Libzip_LIBRARY NAMES zip)
include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(Libzip REQUIRED_VARS Libzip_LIBRARY Libzip_INCLUDE_DIR)
if(Libzip_FOUND AND NOT TARGET Libzip::Libzip)
  add_library(Libzip::Libzip UNKNOWN IMPORTED GLOBAL)
  set_target_properties(Libzip::Libzip PROPERTIES
    IMPORTED_LOCATION ${Libzip_LIBRARY}
    INTERFACE_INCLUDE_DIRECTORIES ${Libzip_INCLUDE_DIR})
endif()
mark_as_advanced(Libzip_INCLUDE_DIR Libzip_LIBRARY)
