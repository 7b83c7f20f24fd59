# kavel-c64: a PETSCII session in a real window, for development and the
# demo.  Its source sits in a folder of its own so that the generic tool
# rule (tools/*.cpp, headless backend) does not build a second copy.
add_executable(kavel-c64 ${CMAKE_SOURCE_DIR}/tools/c64session/kavel_c64.cpp)
kavel_link(kavel-c64 sdl ${KAVEL_LAYERS})
