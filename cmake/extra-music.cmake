# kavel-musicprobe: the terminal's ANSI music player through the SDL audio
# output (the generic tools/*.cpp rule links the headless backend, which is
# silent).  tests/scripts/platform_audio.sh drives it with SDL's disk driver.
add_executable(kavel-musicprobe ${CMAKE_SOURCE_DIR}/tools/musicprobe/musicprobe.cpp)
kavel_link(kavel-musicprobe sdl terminal)
