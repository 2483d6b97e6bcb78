# Installation in the usual places and a Debian package built by CPack
# (cpack -G DEB in the build folder).
include(GNUInstallDirs)

install(TARGETS update-console instrument-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The window's language files, for copying into a program folder.
install(FILES ${PROJECT_SOURCE_DIR}/demo/Update.Deu ${PROJECT_SOURCE_DIR}/demo/Update.Eng
        DESTINATION ${CMAKE_INSTALL_DATADIR}/update)

set(man_pages update-console.1)
if(TARGET Update)
    install(TARGETS Update RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    install(FILES ${CMAKE_CURRENT_LIST_DIR}/update.desktop
            DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
    install(FILES ${CMAKE_CURRENT_LIST_DIR}/update.svg
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
    list(APPEND man_pages Update.1)
endif()
foreach(page IN LISTS man_pages)
    configure_file(${CMAKE_CURRENT_LIST_DIR}/${page} ${PROJECT_BINARY_DIR}/man/${page} @ONLY)
    install(FILES ${PROJECT_BINARY_DIR}/man/${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME instrument-update)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Instrument update maintainers <update@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Firmware update for measuring instruments on serial ports")
set(CPACK_PACKAGE_INSTALL_DIRECTORY /usr)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
