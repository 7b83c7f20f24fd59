# The program's built-in data: the four menu screens (ANSI art in
# assets/menu) and the two dial recordings, which kavel-modemsynth makes at
# build time.  kavel-embed turns all six into the static library
# kavel_assets; code that uses them includes "assets/embedded.h" and links
# kavel_assets, whose include directory holds that generated header.
#
# Both generators are host tools that link nothing of ours.

add_executable(kavel-modemsynth ${CMAKE_SOURCE_DIR}/tools/modemsynth/modemsynth.cpp)
add_executable(kavel-embed ${CMAKE_SOURCE_DIR}/tools/embed/embed.cpp)

set(KAVEL_SOUND_DIR ${CMAKE_BINARY_DIR}/sounds)
set(KAVEL_ASSETS_GEN ${CMAKE_BINARY_DIR}/generated)
set(_menu ${CMAKE_SOURCE_DIR}/assets/menu)

add_custom_command(
  OUTPUT ${KAVEL_SOUND_DIR}/modem01.wav ${KAVEL_SOUND_DIR}/modem02.wav
  COMMAND ${CMAKE_COMMAND} -E make_directory ${KAVEL_SOUND_DIR}
  COMMAND kavel-modemsynth ${KAVEL_SOUND_DIR}
  DEPENDS kavel-modemsynth
  COMMENT "Synthesising the dial recordings"
  VERBATIM)

set(_embedded
  kavel_menu_ans=${_menu}/kavel_menu.ans
  kavel_menu_edit_ans=${_menu}/kavel_menu_edit.ans
  kavel_menu_edit2_ans=${_menu}/kavel_menu_edit2.ans
  kavel_menu_help_ans=${_menu}/kavel_menu_help.ans
  kavel_modem01_wav=${KAVEL_SOUND_DIR}/modem01.wav
  kavel_modem02_wav=${KAVEL_SOUND_DIR}/modem02.wav)
set(_embedded_files "")
foreach(_pair IN LISTS _embedded)
  string(REGEX REPLACE "^[^=]*=" "" _file ${_pair})
  list(APPEND _embedded_files ${_file})
endforeach()

add_custom_command(
  OUTPUT ${KAVEL_ASSETS_GEN}/embedded.cpp ${KAVEL_ASSETS_GEN}/assets/embedded.h
  COMMAND ${CMAKE_COMMAND} -E make_directory ${KAVEL_ASSETS_GEN}/assets
  COMMAND kavel-embed ${KAVEL_ASSETS_GEN}/embedded.cpp ${KAVEL_ASSETS_GEN}/assets/embedded.h
          ${_embedded}
  DEPENDS kavel-embed ${_embedded_files}
  COMMENT "Embedding the menu screens and dial recordings"
  VERBATIM)

add_library(kavel_assets STATIC ${KAVEL_ASSETS_GEN}/embedded.cpp)
target_include_directories(kavel_assets PUBLIC ${KAVEL_ASSETS_GEN})

# The WAVE parser's tests check the recordings the program really embeds.
if(TARGET test_dial)
  target_link_libraries(test_dial PRIVATE kavel_assets)
endif()

# Listen-level checks of the recordings (DTMF digits, answer tone, chunk
# layout), independent of the parser the program uses.
if(EXISTS ${CMAKE_SOURCE_DIR}/tests/assets/recordings_test.cpp)
  add_executable(test_assets ${CMAKE_SOURCE_DIR}/tests/assets/recordings_test.cpp)
  target_link_libraries(test_assets PRIVATE kavel_assets GTest::gtest GTest::gtest_main)
  kavel_test_compile_options(test_assets)
  gtest_discover_tests(test_assets DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)
  add_dependencies(unit_tests test_assets)
endif()
