# Installing Kavel, and the Debian package made of the same files.
#
#   cmake --install BUILD [--prefix P]      (DESTDIR honoured)
#
#   P/bin/kavel, P/bin/kavel-transfer
#   P/share/kavel/Fonts/...                 the data, found from the executable
#   P/share/applications/ID.desktop         the desktop entry
#   P/share/icons/hicolor/*/apps/kavel.*    the icon, SVG and PNG sizes
#   P/share/metainfo/ID.metainfo.xml        AppStream metadata
#   P/share/man/man1/kavel.1.gz, kavel-transfer.1.gz
#   P/share/doc/kavel/copyright, changelog.gz
#
# The menu screens and the dial recordings are built into the program; the
# Fonts drawer is its only data file.  Installed, Kavel finds the drawer
# relative to its executable (platform/dos.cpp), so any prefix works and the
# build tree keeps working as it is.
include(GNUInstallDirs)

set(KAVEL_APP_ID "org.kavel.Kavel" CACHE STRING
    "Reverse-DNS name of the desktop entry and the AppStream metadata")
set(KAVEL_PACKAGE_MAINTAINER "The Kavel developers <kavel@example.org>" CACHE STRING
    "Maintainer named in the Debian package and its changelog")
# The date of this version: the manual pages and the metadata's release.
set(KAVEL_RELEASE_DATE "2026-12-08")

set(KAVEL_INSTALL_DATA_DIR ${CMAKE_INSTALL_DATADIR}/kavel)
set(_data ${CMAKE_SOURCE_DIR}/data)
set(_gen ${CMAKE_BINARY_DIR}/install-data)

# Installed files and directories are world-readable whatever the umask of
# the one who installs them.
set(_dir_perms OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
    WORLD_READ WORLD_EXECUTE)
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS ${_dir_perms})

# Where the data lies seen from the installed executable ("../share/kavel"
# unless the directories were configured otherwise).
file(RELATIVE_PATH _data_from_bin ${CMAKE_INSTALL_FULL_BINDIR}
     ${CMAKE_INSTALL_FULL_DATADIR}/kavel)
if(TARGET kavel_platform)
  target_compile_definitions(kavel_platform PRIVATE
    KAVEL_INSTALLED_DATA_DIR="${_data_from_bin}")
endif()

# --- files made at build time ------------------------------------------------
set(_made "")

# The icon's PNG sizes, drawn from the SVG.
find_program(KAVEL_RSVG_CONVERT rsvg-convert)
set(KAVEL_ICON_SIZES 16 22 24 32 48 64 128 256)
if(KAVEL_RSVG_CONVERT)
  foreach(_s IN LISTS KAVEL_ICON_SIZES)
    set(_png ${_gen}/icons/${_s}x${_s}/apps/kavel.png)
    add_custom_command(
      OUTPUT ${_png}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${_gen}/icons/${_s}x${_s}/apps
      COMMAND ${KAVEL_RSVG_CONVERT} -w ${_s} -h ${_s} -o ${_png} ${_data}/kavel.svg
      DEPENDS ${_data}/kavel.svg
      COMMENT "Drawing the ${_s}x${_s} icon"
      VERBATIM)
    list(APPEND _made ${_png})
  endforeach()
else()
  message(WARNING "rsvg-convert not found (package librsvg2-bin): "
                  "only the scalable icon will be installed")
endif()

# Debian wants documents compressed with gzip -9 and no time stamp (-n), so
# that the package is the same whenever it is built.
configure_file(${_data}/kavel.metainfo.xml.in ${_gen}/${KAVEL_APP_ID}.metainfo.xml @ONLY)
configure_file(${_data}/debian/changelog.in ${_gen}/changelog @ONLY)
add_custom_command(
  OUTPUT ${_gen}/changelog.gz
  COMMAND sh -c "gzip -9n -c changelog > changelog.gz"
  WORKING_DIRECTORY ${_gen}
  DEPENDS ${_gen}/changelog
  VERBATIM)
list(APPEND _made ${_gen}/changelog.gz)

add_custom_target(kavel_install_data ALL DEPENDS ${_made})

# --- what goes where ------------------------------------------------------------
foreach(_program kavel kavel-transfer)
  if(TARGET ${_program})
    install(TARGETS ${_program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()

if(TARGET kavel_fonts)
  install(DIRECTORY ${KAVEL_FONT_DIR} DESTINATION ${KAVEL_INSTALL_DATA_DIR}
          DIRECTORY_PERMISSIONS ${_dir_perms})
endif()

install(FILES ${_data}/kavel.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications
        RENAME ${KAVEL_APP_ID}.desktop)
install(FILES ${_gen}/${KAVEL_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${_data}/kavel.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
if(KAVEL_RSVG_CONVERT)
  install(DIRECTORY ${_gen}/icons/ DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor
          DIRECTORY_PERMISSIONS ${_dir_perms})
endif()
install(FILES ${_data}/debian/copyright ${_gen}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The manual pages name the data directory, which is known only when
# installing (--prefix, or /usr inside the package): they are filled in and
# compressed then.
foreach(_page kavel kavel-transfer)
  install(CODE "
    set(PROJECT_VERSION \"${PROJECT_VERSION}\")
    set(KAVEL_MAN_DATE \"${KAVEL_RELEASE_DATE}\")
    if(IS_ABSOLUTE \"${CMAKE_INSTALL_DATADIR}\")
      set(KAVEL_DATA_DIR \"${CMAKE_INSTALL_DATADIR}/kavel\")
    else()
      set(KAVEL_DATA_DIR \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATADIR}/kavel\")
    endif()
    configure_file(\"${_data}/man/${_page}.1.in\" \"${_gen}/man/${_page}.1\" @ONLY)
    execute_process(COMMAND gzip -9n -c \"${_gen}/man/${_page}.1\"
                    OUTPUT_FILE \"${_gen}/man/${_page}.1.gz\" RESULT_VARIABLE _gz)
    if(NOT _gz EQUAL 0)
      message(FATAL_ERROR \"gzip failed on ${_page}.1\")
    endif()
    file(INSTALL DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_MANDIR}/man1\"
         TYPE FILE FILES \"${_gen}/man/${_page}.1.gz\")
  ")
endforeach()

# --- the Debian package (make package) -------------------------------------------
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kavel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${KAVEL_PACKAGE_MAINTAINER})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${KAVEL_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "graphical terminal for bulletin board systems
Kavel calls bulletin board systems (BBSes) over Telnet and shows them as
they were drawn: an 80x25 ANSI terminal in the IBM PC character set, or a
Commodore 64 PETSCII terminal in 40 or 80 columns, with bitmap fonts, in a
window, a scaled window or full screen.

It keeps a phonebook of boards in a full-screen ANSI menu (with import of
SyncTERM dialing lists), downloads and uploads files with ZMODEM and
XMODEM, keeps the last 1000 lines in a scrollback window and copies and
pastes through the desktop clipboard. kavel-transfer makes one ZMODEM or
XMODEM transfer from a script.")
include(CPack)
