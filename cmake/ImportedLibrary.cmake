# velmoran_import_library(NAME HEADER LIBRARY...): the Find module of a
# library found by its header and file alone: sets NAME_FOUND and defines
# the global imported target NAME::NAME, so that every directory sees it.
function(velmoran_import_library name header)
  find_path(${name}_INCLUDE_DIR ${header})
  find_library(${name}_LIBRARY NAMES ${ARGN})
  include(FindPackageHandleStandardArgs)
  find_package_handle_standard_args(${name} REQUIRED_VARS ${name}_LIBRARY ${name}_INCLUDE_DIR)
  if(${name}_FOUND AND NOT TARGET ${name}::${name})
    add_library(${name}::${name} UNKNOWN IMPORTED GLOBAL)
    set_target_properties(${name}::${name} PROPERTIES
      IMPORTED_LOCATION ${${name}_LIBRARY}
      INTERFACE_INCLUDE_DIRECTORIES ${${name}_INCLUDE_DIR})
  endif()
  mark_as_advanced(${name}_INCLUDE_DIR ${name}_LIBRARY)
  set(${name}_FOUND ${${name}_FOUND} PARENT_SCOPE)
endfunction()
