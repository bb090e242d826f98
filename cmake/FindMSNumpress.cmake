# FindMSNumpress: Debian's libmsnumpress-dev ships a header and a shared
# library, no CMake package and no pkg-config file. Defines
# MSNumpress::MSNumpress (include with <libmsnumpress/MSNumpress.hpp>).
include(${CMAKE_CURRENT_LIST_DIR}/ImportedLibrary.cmake)
velmoran_import_library(MSNumpress libmsnumpress/MSNumpress.hpp msnumpress)
