# Where `cmake --install` puts the programs and their data (GNU layout under the prefix, also
# under DESTDIR), and the Debian package that CPack makes of the same tree.
include(GNUInstallDirs)

install(TARGETS ruvo-convert RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
set(RUVO_MAN_PAGES ruvo-convert)
if(TARGET ruvo)
  install(TARGETS ruvo RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
  install(FILES "${RUVO_DESKTOP_DATA_DIR}/ruvo.desktop" DESTINATION "${CMAKE_INSTALL_DATADIR}/applications")
  install(FILES "${RUVO_DESKTOP_DATA_DIR}/org.ruvo.ruvo.metainfo.xml" DESTINATION "${CMAKE_INSTALL_DATADIR}/metainfo")
  # The icons that the build drew: hicolor/scalable and hicolor/NxN.
  install(DIRECTORY "${RUVO_ICON_DIR}/hicolor" DESTINATION "${CMAKE_INSTALL_DATADIR}/icons")
  list(APPEND RUVO_MAN_PAGES ruvo)
endif()

# The help command looks for the pages in ../share/ruvo/help beside the installed program.
if(EXISTS "${PROJECT_SOURCE_DIR}/help")
  install(DIRECTORY help/ DESTINATION "${CMAKE_INSTALL_DATADIR}/ruvo/help")
endif()

# Manual pages, compressed as Debian keeps them (man reads them either way).
find_program(RUVO_GZIP gzip REQUIRED)
foreach(page IN LISTS RUVO_MAN_PAGES)
  set(source "${PROJECT_SOURCE_DIR}/man/${page}.1")
  set(packed "${PROJECT_BINARY_DIR}/man/${page}.1.gz")
  add_custom_command(
    OUTPUT "${packed}"
    COMMAND "${CMAKE_COMMAND}" -E make_directory "${PROJECT_BINARY_DIR}/man"
    COMMAND "${RUVO_GZIP}" -9 -n -c "${source}" > "${packed}"
    DEPENDS "${source}"
    COMMENT "Compressing the manual page ${page}.1")
  list(APPEND RUVO_PACKED_PAGES "${packed}")
  install(FILES "${packed}" DESTINATION "${CMAKE_INSTALL_MANDIR}/man1")
endforeach()
add_custom_target(ruvo_man_pages ALL DEPENDS ${RUVO_PACKED_PAGES})
install(FILES README.md DESTINATION "${CMAKE_INSTALL_DOCDIR}")
# The package's copyright file (no licence chosen yet) and its changelog, compressed as Debian
# keeps changelogs.
install(FILES data/copyright DESTINATION "${CMAKE_INSTALL_DOCDIR}")
set(RUVO_PACKED_CHANGELOG "${PROJECT_BINARY_DIR}/data/changelog.gz")
add_custom_command(
  OUTPUT "${RUVO_PACKED_CHANGELOG}"
  COMMAND "${CMAKE_COMMAND}" -E make_directory "${PROJECT_BINARY_DIR}/data"
  COMMAND "${RUVO_GZIP}" -9 -n -c "${PROJECT_SOURCE_DIR}/data/changelog" > "${RUVO_PACKED_CHANGELOG}"
  DEPENDS "${PROJECT_SOURCE_DIR}/data/changelog"
  COMMENT "Compressing the changelog")
add_custom_target(ruvo_changelog ALL DEPENDS "${RUVO_PACKED_CHANGELOG}")
install(FILES "${RUVO_PACKED_CHANGELOG}" DESTINATION "${CMAKE_INSTALL_DOCDIR}")

# cpack -G DEB (./scripts/package): a package named ruvo of the project's version, installed
# under /usr, with the libraries' packages found by dpkg-shlibdeps and a General MIDI soundfont
# for the keyboard and the MIDI playback.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ruvo)
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_VENDOR Ruvo)
set(CPACK_PACKAGE_CONTACT "Ruvo developers <developers@ruvo.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "melody to MIDI converter")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "Ruvo turns a melody recorded in a sound file into a Standard MIDI File. The notes found are\n"
    "shown as a piano roll beside the waveform, where they can be corrected before the MIDI\n"
    "file is saved. A melody analysis follows one voice; the classic analysis keeps every\n"
    "spectral peak above a threshold.\n"
    "\n"
    "The package holds the windowed program ruvo and the command-line converter ruvo-convert.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "timgm6mb-soundfont | sf2-soundfont-gm, fonts-vlgothic | fonts-ipafont-gothic | fonts-noto-cjk")
set(CPACK_STRIP_FILES ON)
set(CPACK_SOURCE_IGNORE_FILES "/build.*/;/\\\\.git/")
include(CPack)
