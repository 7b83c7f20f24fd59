# libvterm, an independent VT100 emulator, as a reference for the ANSI
# interpreter: kavel_vterm_reference feeds it bytes and reads back cells in
# Kavel's terms (tests/vterm/vterm_screen.h), for the cross-check test and
# for anything else that wants to compare against it.  Without libvterm
# (Debian's libvterm-dev) the cross-check is not built.
pkg_check_modules(VTERM IMPORTED_TARGET vterm)
if(VTERM_FOUND)
  add_library(kavel_vterm_reference STATIC ${CMAKE_SOURCE_DIR}/tests/vterm/vterm_screen.cpp)
  target_include_directories(kavel_vterm_reference PUBLIC ${CMAKE_SOURCE_DIR}/tests
                             PRIVATE ${CMAKE_SOURCE_DIR}/src)
  target_link_libraries(kavel_vterm_reference PUBLIC PkgConfig::VTERM)

  add_executable(test_vterm_crosscheck ${CMAKE_SOURCE_DIR}/tests/vterm/crosscheck_test.cpp)
  kavel_link(test_vterm_crosscheck headless terminal)
  target_include_directories(test_vterm_crosscheck PRIVATE ${CMAKE_SOURCE_DIR}/tests)
  target_link_libraries(test_vterm_crosscheck PRIVATE kavel_vterm_reference GTest::gtest
                                                      GTest::gtest_main)
  kavel_test_compile_options(test_vterm_crosscheck)
  gtest_discover_tests(test_vterm_crosscheck DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)
  add_dependencies(unit_tests test_vterm_crosscheck)
else()
  message(STATUS "libvterm not found: the ANSI interpreter's cross-check is not built")
endif()
