# Installing and packaging: the bundle's layout in one program folder under
# the prefix (lib/kestrane: the programs, blankimg/, help/, ini/), launchers
# on the PATH, the desktop entry, the icon and the manual page. Included at
# the end of the top-level CMakeLists.txt, once every program's target is
# known.
set(KESTRANE_PROGRAM_DIR lib/kestrane)

# The programs that exist in this build (the joiner and the viewer are
# optional targets).
set(kestrane_programs)
foreach(t kestrane kestrane-cli kestrane-sample-server tilejoin tileview)
  if(TARGET ${t})
    install(TARGETS ${t} RUNTIME DESTINATION ${KESTRANE_PROGRAM_DIR})
    list(APPEND kestrane_programs ${t})
  endif()
endforeach()
install(DIRECTORY ${CMAKE_SOURCE_DIR}/blankimg ${CMAKE_SOURCE_DIR}/help
        DESTINATION ${KESTRANE_PROGRAM_DIR})
# An empty ini/ (no settings ship): an installed program's ini/ is not
# writable for users, so each keeps a settings file of their own.
install(DIRECTORY DESTINATION ${KESTRANE_PROGRAM_DIR}/ini)
install(FILES ${CMAKE_SOURCE_DIR}/share/kestrane.png
        DESTINATION ${KESTRANE_PROGRAM_DIR})
# The area picker's outlines, derived from the map source at build time.
if(TARGET kestrane-worldmap)
  install(FILES ${KESTRANE_BUNDLE}/map/world.bin
          DESTINATION ${KESTRANE_PROGRAM_DIR}/map OPTIONAL)
endif()

# Launchers: relative symbolic links, so that the program folder (found
# from /proc/self/exe, which resolves links) stays lib/kestrane.
set(launcher_dir ${CMAKE_BINARY_DIR}/launchers)
file(MAKE_DIRECTORY ${launcher_dir})
foreach(t kestrane kestrane-cli kestrane-sample-server tilejoin tileview)
  if(TARGET ${t})
    file(CREATE_LINK ../${KESTRANE_PROGRAM_DIR}/${t} ${launcher_dir}/${t}
         SYMBOLIC)
    install(FILES ${launcher_dir}/${t} DESTINATION bin)
  endif()
endforeach()

if(TARGET kestrane)
  install(FILES ${CMAKE_SOURCE_DIR}/share/kestrane.desktop
          DESTINATION share/applications)
  install(FILES ${CMAKE_SOURCE_DIR}/share/kestrane.svg
          DESTINATION share/icons/hicolor/scalable/apps)
  install(FILES ${CMAKE_SOURCE_DIR}/share/kestrane.png
          DESTINATION share/icons/hicolor/64x64/apps)
endif()
configure_file(${CMAKE_SOURCE_DIR}/docs/kestrane-cli.1.in
               ${CMAKE_BINARY_DIR}/kestrane-cli.1 @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/kestrane-cli.1 DESTINATION share/man/man1)

# cpack -G DEB: kestrane_<version>_<arch>.deb with its runtime libraries
# declared (dpkg-shlibdeps reads them from the programs).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kestrane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Kestrane developers <support@kestrane.example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Downloads oblique aerial map tiles of an area")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
