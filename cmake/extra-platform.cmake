# Real-window programs of the platform layer.  tools/*.cpp are also built by
# the generic tool rule, linked with the headless backend; those copies only
# draw into memory, so they are left out of the default build.
foreach(_headless_copy window-pattern fontview)
  if(TARGET ${_headless_copy})
    set_target_properties(${_headless_copy} PROPERTIES EXCLUDE_FROM_ALL TRUE)
  endif()
endforeach()

add_executable(kavel-window-pattern ${CMAKE_SOURCE_DIR}/tools/window_pattern.cpp)
kavel_link(kavel-window-pattern sdl util platform)

add_executable(kavel-fontview ${CMAKE_SOURCE_DIR}/tools/fontview.cpp)
kavel_link(kavel-fontview sdl util platform)
