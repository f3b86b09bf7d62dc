# What `cmake --install` puts where, and the package files that let other projects use it:
# find_package(Quire) gives Quire::quire (and Quire::widgets when the widget library is
# built); pkg-config gives quire (and quirewidgets).
#
#   lib/       libquire.so.<version> with its SONAME link and development link, and the engine
#              (libnthtapi.so, libnnotes.so) beside it, where libquire's RUNPATH $ORIGIN finds it
#   include/quire/<folder>/<header>.h  the public headers in their source layout, so one
#              include directory serves both <objects/QRDbase.h> and the headers' own includes
#   bin/quire  the command-line tool
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(QUIRE_INCLUDE_DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/quire)
set(QUIRE_CMAKE_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Quire)
set(QUIRE_PKGCONFIG_DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# The public headers: every header of these folders except the internal ones listed. The API
# reference is built from the same list.
set(QUIRE_PRIVATE_HEADERS
  rtl/DynamicLibrary.h rtl/Errno.h rtl/SharedMemory.h
  objects/QRAclRoles.h objects/QRBuffer.h)
set(QUIRE_PUBLIC_HEADERS)
foreach(folder hitest rtl binding objects)
  file(GLOB headers RELATIVE ${PROJECT_SOURCE_DIR} CONFIGURE_DEPENDS
       ${PROJECT_SOURCE_DIR}/${folder}/*.h ${PROJECT_SOURCE_DIR}/${folder}/*.def)
  list(APPEND QUIRE_PUBLIC_HEADERS ${headers})
endforeach()
list(REMOVE_ITEM QUIRE_PUBLIC_HEADERS ${QUIRE_PRIVATE_HEADERS})

set(QUIRE_WITH_WIDGETS OFF)
if(TARGET quirewidgets)
  set(QUIRE_WITH_WIDGETS ON)
endif()

function(quire_install_headers)
  foreach(header ${ARGN})
    get_filename_component(folder ${header} DIRECTORY)
    install(FILES ${PROJECT_SOURCE_DIR}/${header} DESTINATION ${QUIRE_INCLUDE_DESTINATION}/${folder}
            COMPONENT development)
  endforeach()
endfunction()
quire_install_headers(${QUIRE_PUBLIC_HEADERS})

set(quire_exported quire)
if(QUIRE_WITH_WIDGETS)
  list(APPEND quire_exported quirewidgets)
  set_target_properties(quirewidgets PROPERTIES EXPORT_NAME widgets
    VERSION ${PROJECT_VERSION} SOVERSION ${QUIRE_SOVERSION})
  foreach(folder framework components)
    file(GLOB headers RELATIVE ${PROJECT_SOURCE_DIR} CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${folder}/*.h)
    list(FILTER headers EXCLUDE REGEX "_p\\.h$")
    list(APPEND QUIRE_PUBLIC_HEADERS ${headers})
    quire_install_headers(${headers})
  endforeach()
endif()

install(TARGETS ${quire_exported} EXPORT QuireTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT development
  INCLUDES DESTINATION ${QUIRE_INCLUDE_DESTINATION})
# The engine is loaded with dlopen by its plain name, never linked: no SONAME version, and no
# imported target. Its interface version is agreed at run time (_HTInit).
install(TARGETS nthtapi nnotes LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime)

if(TARGET quire_cli)
  file(RELATIVE_PATH tool_to_lib ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
  set_target_properties(quire_cli PROPERTIES INSTALL_RPATH "\$ORIGIN/${tool_to_lib}")
  install(TARGETS quire_cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
endif()
if(TARGET quire_explorer_app)
  file(RELATIVE_PATH tool_to_lib ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
  set_target_properties(quire_explorer_app PROPERTIES INSTALL_RPATH "\$ORIGIN/${tool_to_lib}")
  install(TARGETS quire_explorer_app RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
endif()

install(EXPORT QuireTargets NAMESPACE Quire:: DESTINATION ${QUIRE_CMAKE_DESTINATION} COMPONENT development)
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/QuireConfig.cmake.in
  ${PROJECT_BINARY_DIR}/QuireConfig.cmake INSTALL_DESTINATION ${QUIRE_CMAKE_DESTINATION})
# Before 1.0 a minor release may change the ABI (the SONAME carries major.minor as well).
if(PROJECT_VERSION_MAJOR EQUAL 0)
  set(compatibility SameMinorVersion)
else()
  set(compatibility SameMajorVersion)
endif()
write_basic_package_version_file(${PROJECT_BINARY_DIR}/QuireConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY ${compatibility})
install(FILES ${PROJECT_BINARY_DIR}/QuireConfig.cmake ${PROJECT_BINARY_DIR}/QuireConfigVersion.cmake
  DESTINATION ${QUIRE_CMAKE_DESTINATION} COMPONENT development)

# pkg-config files find the prefix from their own place, so an installed tree can be moved.
file(RELATIVE_PATH pc_to_prefix ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
string(REGEX REPLACE "/$" "" pc_to_prefix "${pc_to_prefix}")
set(pc_libdir ${CMAKE_INSTALL_LIBDIR})
set(pc_includedir ${QUIRE_INCLUDE_DESTINATION})
configure_file(${CMAKE_CURRENT_LIST_DIR}/quire.pc.in ${PROJECT_BINARY_DIR}/quire.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/quire.pc DESTINATION ${QUIRE_PKGCONFIG_DESTINATION} COMPONENT development)
if(QUIRE_WITH_WIDGETS)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/quirewidgets.pc.in ${PROJECT_BINARY_DIR}/quirewidgets.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/quirewidgets.pc DESTINATION ${QUIRE_PKGCONFIG_DESTINATION}
          COMPONENT development)
endif()
