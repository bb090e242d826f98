# Findhttplib: Debian's libcpp-httplib-dev ships the header, a compiled
# library and a pkg-config file, but no CMake package. Defines
# httplib::httplib with the compile definitions that the library was built
# with (they change the classes' layout, so they must match).
find_package(PkgConfig QUIET)
if(PkgConfig_FOUND)
  pkg_check_modules(PC_httplib QUIET IMPORTED_TARGET cpp-httplib)
endif()
include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(httplib
  REQUIRED_VARS PC_httplib_FOUND
  VERSION_VAR PC_httplib_VERSION)
if(httplib_FOUND AND NOT TARGET httplib::httplib)
  add_library(httplib::httplib INTERFACE IMPORTED)
  target_link_libraries(httplib::httplib INTERFACE PkgConfig::PC_httplib)
endif()
