# SPDX-License-Identifier: Apache-2.0
# The API reference: `docs` builds HTML from the public headers with Doxygen,
# failing on any warning (an undocumented member included).
find_package(Doxygen)
if(NOT DOXYGEN_FOUND)
  return()
endif()
set(ZAQ_DOXYGEN_INPUT ${PROJECT_SOURCE_DIR}/docs/mainpage.md ${ZAQ_GENERATED_INCLUDE_DIR}/zaqprefixmgr/Version.h)
foreach(header IN LISTS ZAQ_PUBLIC_HEADERS)
  list(APPEND ZAQ_DOXYGEN_INPUT ${PROJECT_SOURCE_DIR}/${header})
endforeach()
list(JOIN ZAQ_DOXYGEN_INPUT " " ZAQ_DOXYGEN_INPUT)
configure_file(docs/Doxyfile.in ${PROJECT_BINARY_DIR}/docs/Doxyfile @ONLY)
add_custom_target(docs
  COMMAND Doxygen::doxygen ${PROJECT_BINARY_DIR}/docs/Doxyfile
  WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
  COMMENT "API reference in ${PROJECT_BINARY_DIR}/docs/html"
  VERBATIM)
