# Platform libraries: FreeType + fontconfig for system fonts, libpng for
# snapshots, SDL2 for the real backend.  The backends are chosen at link time.
pkg_check_modules(KAVEL_FT REQUIRED IMPORTED_TARGET freetype2 fontconfig libpng)
target_link_libraries(kavel_platform PUBLIC PkgConfig::KAVEL_FT)
set(KAVEL_PLATFORM_LIBS PkgConfig::KAVEL_FT)

# A backend and the platform library call each other (the platform code asks
# the backend to present, the backend fills the platform's records), so a
# backend is an object library: its code goes into the executable whole, and
# the platform archive after it resolves what it uses.
add_library(kavel_backend_headless OBJECT ${CMAKE_SOURCE_DIR}/src/platform/headless_backend.cpp)
target_link_libraries(kavel_backend_headless PUBLIC kavel_platform)

# The desktop backend: SDL2 (and Xlib, for lowering a window on X11, with
# its shared-memory extension for presenting).
pkg_check_modules(KAVEL_SDL REQUIRED IMPORTED_TARGET sdl2 x11 xext)
add_library(kavel_backend_sdl OBJECT ${CMAKE_SOURCE_DIR}/src/platform/sdl_backend.cpp)
target_link_libraries(kavel_backend_sdl PUBLIC kavel_platform PkgConfig::KAVEL_SDL)
