# SPDX-License-Identifier: Apache-2.0
# Install rules: libraries, headers, a CMake package and a pkg-config file.
include(CMakePackageConfigHelpers)

set(ZAQ_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/zaqprefixmgr)

install(TARGETS zaqservices zaqprefixmgr EXPORT zaqprefixmgrTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES
  services/OrvServicesExport.h services/OrvWstring.h services/OrvLog.h services/OrvLogSource.h
  services/OrvFatalException.h
  xml/prefixmgr/ZaqPrefixMgrExport.h xml/prefixmgr/XMLPrefixManager.h xml/prefixmgr/OrvXmlMemoryManager.h
  xml/prefixmgr/OrvShared.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/zaqprefixmgr)
install(EXPORT zaqprefixmgrTargets NAMESPACE zaqprefixmgr:: DESTINATION ${ZAQ_CMAKE_DIR})

configure_package_config_file(cmake/zaqprefixmgrConfig.cmake.in
  ${PROJECT_BINARY_DIR}/zaqprefixmgrConfig.cmake INSTALL_DESTINATION ${ZAQ_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/zaqprefixmgrConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/zaqprefixmgrConfig.cmake ${PROJECT_BINARY_DIR}/zaqprefixmgrConfigVersion.cmake
  DESTINATION ${ZAQ_CMAKE_DIR})

# The .pc file finds its prefix from its own place, so an install moved with
# DESTDIR or --prefix still works.
file(RELATIVE_PATH ZAQ_PC_TO_PREFIX /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
string(REGEX REPLACE "/$" "" ZAQ_PC_TO_PREFIX "${ZAQ_PC_TO_PREFIX}")
configure_file(cmake/zaqprefixmgr.pc.in ${PROJECT_BINARY_DIR}/zaqprefixmgr.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/zaqprefixmgr.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
