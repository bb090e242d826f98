# What a Debian package of velmoran holds beyond the libraries and the
# program (cmake/Install.cmake, cli/): the Python extension modules, the
# manual pages, the copyright and changelog files, and the CPack settings.
# scripts/package.sh configures a Release tree with all of it and runs
# `cpack -G DEB`; a plain configure installs none of it.

# Every extension module the bindings build (velmoran, and any other module
# added beside it), with the type stubs, for each interpreter built for.
# A relative folder stays relative (under the prefix): a STRING, not a PATH.
set(VELMORAN_PYTHON_INSTALL_DIR "" CACHE STRING
  "Install the Python modules into this folder (relative: under the prefix); empty: not installed")
if(VELMORAN_BUILD_PYTHON AND VELMORAN_PYTHON_INSTALL_DIR)
  get_property(binding_targets DIRECTORY ${PROJECT_SOURCE_DIR}/bindings PROPERTY BUILDSYSTEM_TARGETS)
  foreach(target IN LISTS binding_targets)
    get_target_property(type ${target} TYPE)
    get_target_property(version ${target} VELMORAN_PYTHON_VERSION)
    if(type STREQUAL "MODULE_LIBRARY" AND version)
      install(TARGETS ${target} LIBRARY DESTINATION ${VELMORAN_PYTHON_INSTALL_DIR})
    endif()
  endforeach()
  file(GLOB stubs ${PROJECT_SOURCE_DIR}/bindings/*.pyi)
  install(FILES ${stubs} DESTINATION ${VELMORAN_PYTHON_INSTALL_DIR})
endif()

# velmoran(1) and velmoran-<command>(1), from the program's --help.
option(VELMORAN_BUILD_MAN_PAGES "Write and install manual pages (needs help2man)" OFF)
if(VELMORAN_BUILD_MAN_PAGES AND TARGET velmoran_cli)
  find_program(VELMORAN_HELP2MAN help2man REQUIRED)
  find_program(VELMORAN_GZIP gzip REQUIRED)
  set(man_out ${PROJECT_BINARY_DIR}/man)
  add_custom_command(OUTPUT ${man_out}/pages.stamp
    COMMAND ${CMAKE_COMMAND} -DVELMORAN=$<TARGET_FILE:velmoran_cli>
      -DHELP2MAN=${VELMORAN_HELP2MAN} -DGZIP=${VELMORAN_GZIP}
      -DVERSION=${PROJECT_VERSION} -DOUT_DIR=${man_out}
      -P ${PROJECT_SOURCE_DIR}/cmake/ManPages.cmake
    COMMAND ${CMAKE_COMMAND} -E touch ${man_out}/pages.stamp
    DEPENDS velmoran_cli ${PROJECT_SOURCE_DIR}/cmake/ManPages.cmake
    COMMENT "Writing the manual pages from velmoran --help"
    VERBATIM)
  add_custom_target(velmoran_man_pages ALL DEPENDS ${man_out}/pages.stamp)
  install(DIRECTORY ${man_out}/man1 DESTINATION ${CMAKE_INSTALL_MANDIR})
endif()

set(VELMORAN_PACKAGE_MAINTAINER "velmoran maintainers <maintainers@velmoran.example.org>")

# The two files every Debian package carries in its doc folder.
option(VELMORAN_DEBIAN_DOCS "Install the copyright and changelog files of a Debian package" OFF)
if(VELMORAN_DEBIAN_DOCS)
  set(doc_dir ${CMAKE_INSTALL_DATAROOTDIR}/doc/${PROJECT_NAME})
  install(FILES ${PROJECT_SOURCE_DIR}/cmake/debian/copyright DESTINATION ${doc_dir})
  # The changelog entry is dated by the last commit, so that the same
  # sources give the same package.
  execute_process(COMMAND git log -1 --format=%ct
    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
    OUTPUT_VARIABLE commit_time OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(NOT commit_time)
    string(TIMESTAMP commit_time "%s" UTC)
  endif()
  execute_process(COMMAND date -u -R -d @${commit_time}
    OUTPUT_VARIABLE changelog_date OUTPUT_STRIP_TRAILING_WHITESPACE)
  # The version has no Debian revision: a native package, whose changelog is
  # changelog.gz.
  set(changelog ${PROJECT_BINARY_DIR}/debian/changelog)
  file(WRITE ${changelog}
    "${PROJECT_NAME} (${PROJECT_VERSION}) unstable; urgency=medium\n\n"
    "  * Built from the project's sources with CPack; the project's history is\n"
    "    its git log.\n\n"
    " -- ${VELMORAN_PACKAGE_MAINTAINER}  ${changelog_date}\n")
  find_program(VELMORAN_GZIP gzip REQUIRED)
  add_custom_command(OUTPUT ${changelog}.gz
    COMMAND ${VELMORAN_GZIP} -9nkf ${changelog}
    DEPENDS ${changelog}
    VERBATIM)
  add_custom_target(velmoran_debian_changelog ALL DEPENDS ${changelog}.gz)
  install(FILES ${changelog}.gz DESTINATION ${doc_dir})
endif()

set(CPACK_PACKAGE_NAME ${PROJECT_NAME})
set(CPACK_PACKAGE_VENDOR "velmoran maintainers")
set(CPACK_PACKAGE_CONTACT ${VELMORAN_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "reader and converter for LC-MS acquisition datasets")
set(CPACK_PACKAGE_DESCRIPTION [=[velmoran reads LC-MS acquisition datasets (a .d directory with its scan
table, centroid peak blocks and compressed profile blocks).
This package holds the velmoran program (convert runs to indexed mzML,
MGF, mzPeak archives or Parquet tables; info, scans and chromatograms from the shell), the C++ reading
library with its headers and CMake package, and the Python modules for
the system's python3.]=])
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY "=")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The shared libraries in /usr/lib: dpkg runs ldconfig once after the
# packages of a run are unpacked (CPack's own maintainer scripts call it too).
file(WRITE ${PROJECT_BINARY_DIR}/debian/triggers "activate-noawait ldconfig\n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/debian/triggers)
# libzstd and libzip (the Parquet and mzPeak writers) are found by
# dpkg-shlibdeps like every other shared library the program links.
# The Python modules are built for one interpreter version; dpkg-shlibdeps
# does not see that dependency, so it is named here.
if(VELMORAN_BUILD_PYTHON AND VELMORAN_PYTHON_INSTALL_DIR)
  get_property(python_modules GLOBAL PROPERTY VELMORAN_PYTHON_MODULES)
  set(python_versions)
  foreach(module IN LISTS python_modules)
    get_target_property(version ${module} VELMORAN_PYTHON_VERSION)
    list(APPEND python_versions ${version})
  endforeach()
  if(python_versions)
    list(SORT python_versions COMPARE NATURAL)
    list(GET python_versions 0 lowest)
    list(GET python_versions -1 highest)
    string(REGEX REPLACE "^3\\." "" minor ${highest})
    math(EXPR next "${minor} + 1")
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "python3 (>= ${lowest}~), python3 (<< 3.${next})")
  endif()
endif()
include(CPack)
