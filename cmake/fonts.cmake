# The Fonts drawer: kavel-fontc (a host tool that links nothing of ours)
# compiles the glyph sheets in assets/fonts, and for the PC sets Debian's VGA
# console fonts (package console-setup-linux, read at build time only), into
# the nine files the program checks for at start-up.

find_package(ZLIB REQUIRED)

add_executable(kavel-fontc
  ${CMAKE_SOURCE_DIR}/tools/fontc/fontc.cpp
  ${CMAKE_SOURCE_DIR}/tools/fontc/sheet.cpp
  ${CMAKE_SOURCE_DIR}/tools/fontc/psf.cpp
  ${CMAKE_SOURCE_DIR}/tools/fontc/cp437.cpp
  ${CMAKE_SOURCE_DIR}/tools/fontc/amiga.cpp)
target_link_libraries(kavel-fontc PRIVATE ZLIB::ZLIB)

set(KAVEL_FONT_DIR ${CMAKE_BINARY_DIR}/Fonts)
set(_fs ${CMAKE_SOURCE_DIR}/assets/fonts)

foreach(_h 8 14 16)
  find_file(KAVEL_VGA_PSF_${_h} NAMES Uni2-VGA${_h}.psf.gz
            PATHS /usr/share/consolefonts /usr/share/kbd/consolefonts NO_DEFAULT_PATH)
  if(NOT KAVEL_VGA_PSF_${_h})
    message(FATAL_ERROR "Uni2-VGA${_h}.psf.gz not found: install console-setup-linux "
                        "(bash scripts/install-deps.sh)")
  endif()
endforeach()

set(_outputs "")

# kavel_font(OUTPUT file INPUTS deps... ARGS compiler arguments...)
function(kavel_font)
  cmake_parse_arguments(F "" "OUTPUT" "INPUTS;ARGS" ${ARGN})
  add_custom_command(
    OUTPUT ${F_OUTPUT}
    COMMAND kavel-fontc --out ${F_OUTPUT} ${F_ARGS}
    DEPENDS kavel-fontc ${F_INPUTS}
    COMMENT "Compiling font ${F_OUTPUT}"
    VERBATIM)
endfunction()

foreach(_h 8 14 16)
  kavel_font(OUTPUT ${KAVEL_FONT_DIR}/cp437.f${_h}
    INPUTS ${KAVEL_VGA_PSF_${_h}} ${_fs}/cp437_${_h}.txt
    ARGS --height ${_h} --psf ${KAVEL_VGA_PSF_${_h}} --cp437-rules --require 1-254
         ${_fs}/cp437_${_h}.txt)
  list(APPEND _outputs ${KAVEL_FONT_DIR}/cp437.f${_h})
endforeach()

kavel_font(OUTPUT ${KAVEL_FONT_DIR}/c64_upper.f8
  INPUTS ${_fs}/c64_upper.txt
  ARGS --height 8 --c64-mirror --require 33-127,161-255 ${_fs}/c64_upper.txt)
kavel_font(OUTPUT ${KAVEL_FONT_DIR}/c64_lower.f8
  INPUTS ${_fs}/c64_upper.txt ${_fs}/c64_lower.txt
  ARGS --height 8 --c64-mirror --require 33-127,161-255 ${_fs}/c64_upper.txt ${_fs}/c64_lower.txt)
list(APPEND _outputs ${KAVEL_FONT_DIR}/c64_upper.f8 ${KAVEL_FONT_DIR}/c64_lower.f8)

foreach(_h 14 16)
  kavel_font(OUTPUT ${KAVEL_FONT_DIR}/topaz_amiga.f${_h}
    INPUTS ${_fs}/topaz.txt
    ARGS --height ${_h} --sheet-height 8 --require 33-126,161-255 ${_fs}/topaz.txt)
  list(APPEND _outputs ${KAVEL_FONT_DIR}/topaz_amiga.f${_h})
endforeach()

# The 1200 look: the same 8x8 design with the sheet of Workbench 1.2 style
# replacements laid over it. Baseline: design row 6 ends at row 12 (14 rows)
# and row 13 (16 rows).
kavel_font(OUTPUT ${KAVEL_FONT_DIR}/Topaz+1200/14
  INPUTS ${_fs}/topaz.txt ${_fs}/topaz1200.txt
  ARGS --height 14 --sheet-height 8 --format amiga --lo 32 --hi 255 --name Topaz+1200
       --baseline 12 --require 33-126,161-255 ${_fs}/topaz.txt ${_fs}/topaz1200.txt)
kavel_font(OUTPUT ${KAVEL_FONT_DIR}/Topaz+1200/16
  INPUTS ${_fs}/topaz.txt ${_fs}/topaz1200.txt
  ARGS --height 16 --sheet-height 8 --format amiga --lo 32 --hi 255 --name Topaz+1200
       --baseline 13 --require 33-126,161-255 ${_fs}/topaz.txt ${_fs}/topaz1200.txt)
list(APPEND _outputs ${KAVEL_FONT_DIR}/Topaz+1200/14 ${KAVEL_FONT_DIR}/Topaz+1200/16)

add_custom_target(kavel_fonts ALL DEPENDS ${_outputs})
