# The Debian package: `cpack -G DEB` in the release build makes vantor_VERSION_ARCH.deb of what
# `cmake --install` installs, under /usr. Its dependencies are read off the binaries by
# dpkg-shlibdeps. It has no maintainer scripts: the server's unit is installed, never enabled.

set(VANTOR_PACKAGE_MAINTAINER "Vantor developers <vantor@example.org>" CACHE STRING
    "The Maintainer field of the Debian package, as Name <address>")
# The browser version's site, when tools/web/build has made it, is served from here by the server.
set(VANTOR_WEB_SITE "${CMAKE_SOURCE_DIR}/build/web/game/site" CACHE PATH
    "The browser build's site, installed under share/vantor/site when it exists at install time")

# What Debian wants beside the programs: the copyright, a changelog and manual pages compressed as
# dpkg's tools do, the documentation the unit names.
set(docdir "${CMAKE_INSTALL_DATADIR}/doc/vantor")
configure_file("${CMAKE_SOURCE_DIR}/tools/package/changelog.in" "${CMAKE_BINARY_DIR}/package/changelog" @ONLY)
add_custom_command(OUTPUT "${CMAKE_BINARY_DIR}/package/changelog.gz"
    COMMAND gzip -9 -n -c "${CMAKE_BINARY_DIR}/package/changelog" > "${CMAKE_BINARY_DIR}/package/changelog.gz"
    DEPENDS "${CMAKE_BINARY_DIR}/package/changelog")
set(package_files "${CMAKE_BINARY_DIR}/package/changelog.gz")
foreach(page vantor.6 vantor-sim.6 vantor-server.8)
    set(gz "${CMAKE_BINARY_DIR}/package/man/${page}.gz")
    add_custom_command(OUTPUT "${gz}"
        COMMAND gzip -9 -n -c "${CMAKE_SOURCE_DIR}/tools/package/man/${page}" > "${gz}"
        DEPENDS "${CMAKE_SOURCE_DIR}/tools/package/man/${page}")
    string(REGEX REPLACE ".*\\." "" section "${page}")
    install(FILES "${gz}" DESTINATION "${CMAKE_INSTALL_MANDIR}/man${section}")
    list(APPEND package_files "${gz}")
endforeach()
file(MAKE_DIRECTORY "${CMAKE_BINARY_DIR}/package/man")
add_custom_target(vantor_package_files ALL DEPENDS ${package_files})
install(FILES tools/package/copyright "${CMAKE_BINARY_DIR}/package/changelog.gz" README.md docs/ONLINE.md
    DESTINATION "${docdir}")
install(DIRECTORY "${VANTOR_WEB_SITE}/" DESTINATION "${CMAKE_INSTALL_DATADIR}/vantor/site" OPTIONAL)

set(CPACK_PACKAGE_NAME vantor)
set(CPACK_PACKAGE_VENDOR "The Vantor developers")
set(CPACK_PACKAGE_CONTACT "${VANTOR_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "turn-based strategy game of nuclear war")
# CPack puts the summary first and indents these lines; an empty line becomes " .".
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Two to four sides, each a person or the computer, own cities, missile silos,
submarines and factories on a world map and take turns firing one missile
each; the last side standing wins.

The package holds the game (vantor), its headless driver for scripts and
computer-only tournaments (vantor-sim) and the server of online play
(vantor-server), with a systemd unit for it that is not enabled.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION games)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${VANTOR_PACKAGE_MAINTAINER}")
# Control files with the permissions dpkg gives them.
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_GENERATOR DEB)
include(CPack)
