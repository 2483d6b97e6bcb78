# Installation in the usual places and three Debian packages built by CPack
# (cpack -G DEB in the build folder):
#   instrument-update            the console program, no Qt
#   instrument-update-gui        the window
#   instrument-update-simulator  the simulated instrument, for demos and benches
include(GNUInstallDirs)

set(UPDATE_PACKAGE_MAINTAINER "Instrument Update Team <instrument-update@users.noreply.github.com>"
    CACHE STRING "Maintainer field of the Debian packages")
set(package_data ${CMAKE_INSTALL_DATADIR}/instrument-update)
set(packaging_out ${PROJECT_BINARY_DIR}/packaging)

install(TARGETS update-console RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT console)
# The window's language files, for copying into a program folder, and the
# report's schema, for the scripts that read reports.
install(FILES ${PROJECT_SOURCE_DIR}/demo/Update.Deu ${PROJECT_SOURCE_DIR}/demo/Update.Eng
              ${PROJECT_SOURCE_DIR}/docs/report.schema.json
        DESTINATION ${package_data} COMPONENT console)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/README.Debian
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/instrument-update COMPONENT console)

# The simulator is installed under a name that says what it is; in the build
# tree it stays instrument-sim for the tests and scripts.
add_executable(instrument-update-simulator ${PROJECT_SOURCE_DIR}/tools/instrument-sim/main.cpp)
target_link_libraries(instrument-update-simulator PRIVATE instrument_sim)
install(TARGETS instrument-update-simulator RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        COMPONENT simulator)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/tools/instrument-sim/profiles/
        DESTINATION ${CMAKE_INSTALL_DATADIR}/instrument-update-simulator/profiles
        COMPONENT simulator FILES_MATCHING PATTERN "*.profile")

set(packages instrument-update instrument-update-simulator)
set(man_pages_console update-console.1)
set(man_pages_simulator instrument-update-simulator.1)
if(TARGET instrument-update-gui)
    list(APPEND packages instrument-update-gui)
    install(TARGETS instrument-update-gui RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
            COMPONENT gui)
    install(FILES ${CMAKE_CURRENT_LIST_DIR}/instrument-update-gui.desktop
            DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT gui)
    install(FILES ${CMAKE_CURRENT_LIST_DIR}/instrument-update-gui.svg
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT gui)
    set(man_pages_gui instrument-update-gui.1)
endif()

# Debian wants manual pages and changelogs compressed with gzip -9n (no name,
# no time stamp, so that the package is reproducible).
function(install_gzipped source target destination component)
    set(gzipped ${packaging_out}/${component}/${target}.gz)
    add_custom_command(OUTPUT ${gzipped}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${packaging_out}/${component}
        COMMAND gzip -9n -c ${source} > ${gzipped}
        DEPENDS ${source} VERBATIM)
    add_custom_target(gzip_${component}_${target} ALL DEPENDS ${gzipped})
    install(FILES ${gzipped} DESTINATION ${destination} COMPONENT ${component})
endfunction()

configure_file(${CMAKE_CURRENT_LIST_DIR}/changelog ${packaging_out}/changelog @ONLY)
configure_file(${CMAKE_CURRENT_LIST_DIR}/copyright ${packaging_out}/copyright @ONLY)
foreach(component console gui simulator)
    if(component STREQUAL "console")
        set(package instrument-update)
    else()
        set(package instrument-update-${component})
    endif()
    if(NOT package IN_LIST packages)
        continue()
    endif()
    set(doc ${CMAKE_INSTALL_DATADIR}/doc/${package})
    install(FILES ${packaging_out}/copyright DESTINATION ${doc} COMPONENT ${component})
    install_gzipped(${packaging_out}/changelog changelog ${doc} ${component})
    foreach(page IN LISTS man_pages_${component})
        configure_file(${CMAKE_CURRENT_LIST_DIR}/${page} ${packaging_out}/man/${page} @ONLY)
        install_gzipped(${packaging_out}/man/${page} ${page} ${CMAKE_INSTALL_MANDIR}/man1
                        ${component})
    endforeach()
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL console simulator)
if(TARGET instrument-update-gui)
    list(APPEND CPACK_COMPONENTS_ALL gui)
endif()
set(CPACK_PACKAGE_NAME instrument-update)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${UPDATE_PACKAGE_MAINTAINER})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "")
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_CONSOLE_PACKAGE_NAME instrument-update)
set(CPACK_DEBIAN_GUI_PACKAGE_NAME instrument-update-gui)
set(CPACK_DEBIAN_SIMULATOR_PACKAGE_NAME instrument-update-simulator)
set(CPACK_DEBIAN_GUI_PACKAGE_DEPENDS "instrument-update (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_SIMULATOR_PACKAGE_SECTION devel)

# The first line is the synopsis, the rest the extended description (CPack
# indents it; an empty line separates paragraphs).
set(CPACK_COMPONENT_CONSOLE_DESCRIPTION
"firmware update for measuring instruments on serial ports
update-console finds a measuring instrument on a serial port, identifies it,
decides whether the firmware file of its program folder is newer, switches
the instrument into its bootloader and transfers the firmware: MSP430
bootstrap loaders, XMODEM, the instruments' own loaders and file transfers.
It is made for scripts, service benches and SSH sessions: one port per run
(--port), a JSON report of each run (--report), exit codes for every
outcome, and progress lines when the output is no terminal.

The window program is in the package instrument-update-gui.")
set(CPACK_COMPONENT_GUI_DESCRIPTION
"firmware update for measuring instruments - window
instrument-update-gui is the Qt 6 window of instrument-update: it finds a
measuring instrument on a serial port, identifies it and transfers newer
firmware, with a progress bar, a log and German or English texts.
It takes the same options as update-console.")
set(CPACK_COMPONENT_SIMULATOR_DESCRIPTION
"simulated measuring instrument on a pseudo-terminal
instrument-update-simulator plays a measuring instrument and its serial
cable on a pseudo-terminal or a device: the command protocol, the
bootloaders with a flash memory model, line faults and a transcript.
It stands in for a real instrument in demonstrations, trials of scripts
and benchmarks of instrument-update.")
include(CPack)
