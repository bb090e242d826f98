# Installs the reading library and the core library with an exported CMake
# package, so another project writes find_package(velmoran) and links
# velmoran::reader. Only the public headers are installed, each library's
# under its own prefix (include/velmoran/..., include/quorlith/...), and the
# consumer's include path is include/ itself.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(VELMORAN_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/velmoran)

install(TARGETS quorlith_core
  EXPORT velmoranTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  FILE_SET HEADERS DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(TARGETS velmoran_reader
  EXPORT velmoranTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  FILE_SET HEADERS DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(EXPORT velmoranTargets
  NAMESPACE velmoran::
  DESTINATION ${VELMORAN_INSTALL_CMAKEDIR})

# quorlith::core is exported as velmoran::core; give installed users the
# in-tree spelling too.
file(WRITE ${PROJECT_BINARY_DIR}/velmoranConfig.cmake [=[
include(${CMAKE_CURRENT_LIST_DIR}/velmoranTargets.cmake)
if(NOT TARGET quorlith::core)
  add_library(quorlith::core INTERFACE IMPORTED)
  set_target_properties(quorlith::core PROPERTIES INTERFACE_LINK_LIBRARIES velmoran::core)
endif()
]=])
write_basic_package_version_file(${PROJECT_BINARY_DIR}/velmoranConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES
  ${PROJECT_BINARY_DIR}/velmoranConfig.cmake
  ${PROJECT_BINARY_DIR}/velmoranConfigVersion.cmake
  DESTINATION ${VELMORAN_INSTALL_CMAKEDIR})

# The user documentation, where the program's help and manual pages point
# (<prefix>/share/doc/velmoran/): every docs/*.md and the pictures they show.
file(GLOB user_docs CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/docs/*.md ${PROJECT_SOURCE_DIR}/docs/*.png)
install(FILES ${user_docs} DESTINATION ${CMAKE_INSTALL_DOCDIR})
