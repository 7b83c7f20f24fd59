# Platform libraries: FreeType + fontconfig for system fonts, libpng for
# snapshots, SDL2 for the real backend.  The backends are separate libraries
# chosen at link time.
pkg_check_modules(KAVEL_FT REQUIRED IMPORTED_TARGET freetype2 fontconfig libpng)
target_link_libraries(kavel_platform PUBLIC PkgConfig::KAVEL_FT)
set(KAVEL_PLATFORM_LIBS PkgConfig::KAVEL_FT)
