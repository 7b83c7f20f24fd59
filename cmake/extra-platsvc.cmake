# Developer tools that reach the desktop's clipboard and audio through the
# SDL backend (the generic tools/*.cpp rule would link them headless, so they
# live in folders of their own).  tests/scripts/platform_clipboard.sh and
# platform_audio.sh drive them.
add_executable(kavel-clipprobe ${CMAKE_SOURCE_DIR}/tools/clipprobe/clipprobe.cpp)
kavel_link(kavel-clipprobe sdl util platform)

add_executable(kavel-audioprobe ${CMAKE_SOURCE_DIR}/tools/audioprobe/audioprobe.cpp)
kavel_link(kavel-audioprobe sdl util platform)
