# Installs the reading library and the core library with an exported CMake
# package: find_package(velmoran) then link velmoran::reader.
include(GNUInstallDirs)

install(TARGETS quorlith_core
  EXPORT velmoranTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  FILE_SET HEADERS DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(TARGETS velmoran_reader
  EXPORT velmoranTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  FILE_SET HEADERS DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/velmoran)
