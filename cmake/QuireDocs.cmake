# `docs`: the API reference in HTML (build/docs/html/index.html), made by Doxygen from the
# public headers and the pages of docs/. Any Doxygen warning fails the target.
find_package(Doxygen QUIET)
if(NOT DOXYGEN_FOUND)
  return()
endif()
set(QUIRE_DOCS_OUTPUT ${PROJECT_BINARY_DIR}/docs)
set(QUIRE_DOCS_INPUT)
foreach(header ${QUIRE_PUBLIC_HEADERS})
  if(header MATCHES "\\.h$")
    string(APPEND QUIRE_DOCS_INPUT " ${PROJECT_SOURCE_DIR}/${header}")
  endif()
endforeach()
file(GLOB doc_pages CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/docs/*.md)
foreach(page ${doc_pages})
  string(APPEND QUIRE_DOCS_INPUT " ${page}")
endforeach()
configure_file(${CMAKE_CURRENT_LIST_DIR}/Doxyfile.in ${QUIRE_DOCS_OUTPUT}/Doxyfile @ONLY)
add_custom_target(docs
  COMMAND ${DOXYGEN_EXECUTABLE} ${QUIRE_DOCS_OUTPUT}/Doxyfile
  WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
  COMMENT "API reference: ${QUIRE_DOCS_OUTPUT}/html/index.html"
  VERBATIM)
