# FindMSNumpress: Debian's libmsnumpress-dev ships a header and a shared
# library, no CMake package and no pkg-config file. Defines
# MSNumpress::MSNumpress (include with <libmsnumpress/MSNumpress.hpp>).
find_path(MSNumpress_INCLUDE_DIR libmsnumpress/MSNumpress.hpp)
find_library(MSNumpress_LIBRARY NAMES msnumpress)
include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(MSNumpress REQUIRED_VARS MSNumpress_LIBRARY MSNumpress_INCLUDE_DIR)
if(MSNumpress_FOUND AND NOT TARGET MSNumpress::MSNumpress)
  add_library(MSNumpress::MSNumpress UNKNOWN IMPORTED)
  set_target_properties(MSNumpress::MSNumpress PROPERTIES
    IMPORTED_LOCATION ${MSNumpress_LIBRARY}
    INTERFACE_INCLUDE_DIRECTORIES ${MSNumpress_INCLUDE_DIR})
endif()
mark_as_advanced(MSNumpress_INCLUDE_DIR MSNumpress_LIBRARY)
