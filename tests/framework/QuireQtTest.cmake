# quire_qt_test(NAME SOURCES...): one QTest program run by CTest on the offscreen platform,
# so no display is needed. Leak reports that belong to the system libraries Qt loads (fonts)
# are suppressed by name in lsan.supp; our own code is checked in full.
function(quire_qt_test name)
  add_executable(${name} ${ARGN})
  set_target_properties(${name} PROPERTIES AUTOMOC ON BUILD_RPATH "\$ORIGIN/../lib")
  target_link_libraries(${name} PRIVATE quirewidgets Qt6::Test Qt6::Widgets)
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR})
  add_dependencies(${name} nthtapi nnotes)
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES ENVIRONMENT
    "QT_QPA_PLATFORM=offscreen;LSAN_OPTIONS=suppressions=${CMAKE_SOURCE_DIR}/tests/framework/lsan.supp")
endfunction()
