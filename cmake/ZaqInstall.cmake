# SPDX-License-Identifier: Apache-2.0
# Install rules: libraries, headers, a CMake package and a pkg-config file.
include(CMakePackageConfigHelpers)

set(ZAQ_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/zaqprefixmgr)

install(TARGETS zaqservices zaqprefixmgr EXPORT zaqprefixmgrTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${ZAQ_PUBLIC_HEADERS} ${ZAQ_GENERATED_INCLUDE_DIR}/zaqprefixmgr/Version.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/zaqprefixmgr)

# Run paths relative to the installed files' own place, so that an install
# under any prefix (and a moved one) runs without LD_LIBRARY_PATH: the
# library finds libzaqservices beside it, the tool finds both libraries.
# Packages for a system directory turn this off.
if(ZAQ_INSTALL_RPATH AND CMAKE_SYSTEM_NAME STREQUAL "Linux")
  file(RELATIVE_PATH ZAQ_BIN_TO_LIB ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
  set_target_properties(zaqprefixmgr PROPERTIES INSTALL_RPATH "$ORIGIN")
  if(TARGET zaqxml)
    set_target_properties(zaqxml PROPERTIES INSTALL_RPATH "$ORIGIN/${ZAQ_BIN_TO_LIB}")
  endif()
endif()

if(TARGET zaqxml)
  install(FILES zaqxml/zaqxml.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES zaqxml/zaqxml.bash-completion DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
    RENAME zaqxml)
endif()
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
