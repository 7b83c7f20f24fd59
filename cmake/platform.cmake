# Platform libraries: FreeType + fontconfig for system fonts, libpng for
# snapshots, SDL2 for the real backend.  The backends are separate libraries
# chosen at link time.
pkg_check_modules(KAVEL_FT REQUIRED IMPORTED_TARGET freetype2 fontconfig libpng)
target_link_libraries(kavel_platform PUBLIC PkgConfig::KAVEL_FT)
set(KAVEL_PLATFORM_LIBS PkgConfig::KAVEL_FT)

# The in-memory backend: tests and developer tools.
add_library(kavel_backend_headless STATIC ${CMAKE_SOURCE_DIR}/src/platform/headless_backend.cpp)
target_include_directories(kavel_backend_headless PUBLIC ${CMAKE_SOURCE_DIR}/src)

# The desktop backend: SDL2 (and Xlib, for lowering a window on X11).
pkg_check_modules(KAVEL_SDL REQUIRED IMPORTED_TARGET sdl2 x11)
add_library(kavel_backend_sdl STATIC ${CMAKE_SOURCE_DIR}/src/platform/sdl_backend.cpp)
target_include_directories(kavel_backend_sdl PUBLIC ${CMAKE_SOURCE_DIR}/src)
target_link_libraries(kavel_backend_sdl INTERFACE PkgConfig::KAVEL_SDL)

# kavel_link() links the backend's archive by file name, which does not carry
# its link interface; so once every target exists, each executable that links
# the SDL backend also gets SDL2.  Headless executables never need it.
function(_kavel_link_sdl_users)
  get_property(_targets DIRECTORY ${CMAKE_SOURCE_DIR} PROPERTY BUILDSYSTEM_TARGETS)
  foreach(t IN LISTS _targets)
    get_target_property(_type ${t} TYPE)
    if(NOT _type STREQUAL "EXECUTABLE")
      continue()
    endif()
    get_target_property(_libs ${t} LINK_LIBRARIES)
    if(_libs AND "${_libs}" MATCHES "kavel_backend_sdl")
      target_link_libraries(${t} PRIVATE PkgConfig::KAVEL_SDL)
    endif()
  endforeach()
endfunction()
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL _kavel_link_sdl_users)
