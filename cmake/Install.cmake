# Installing Quorvel as a desktop program, and its Debian package.
#
#   cmake --install build [--prefix DIR]       (DESTDIR=... stages it elsewhere)
#   cmake --build build --target package       (writes build/quorvel_<version>_<arch>.deb)
#
# Every rule here belongs to the component "quorvel", and the package holds that component
# alone: tests, benchmarks and the image tools never end up in it.

include(GNUInstallDirs)

set(QV_COMPONENT quorvel)
# The desktop entry's file name and the AppStream id.
set(QV_APP_ID org.quorvel.Quorvel)
# The date of this version's release, as the manual page and the release list show it.
set(QV_RELEASE_DATE 2026-12-09)
set(QV_HOMEPAGE "https://quorvel.org/" CACHE STRING
    "Home page named by the AppStream metadata and the package (with a trailing /)")
# The repository states no licence yet; this SPDX placeholder says so until it does.
set(QV_PROJECT_LICENSE "LicenseRef-proprietary" CACHE STRING
    "SPDX expression of the program's licence, for the AppStream metadata")
set(QV_PACKAGE_MAINTAINER "Quorvel maintainers <maintainers@quorvel.org>" CACHE STRING
    "Maintainer field of the Debian package")

# The executable looks for its window in ../lib/quorvel and for its catalogs in
# ../share/quorvel/locale, both relative to its own folder, so that a prefix moved elsewhere
# still works; both are therefore placed relative to the bin folder. CMAKE_INSTALL_LIBDIR is
# not used for the module: with the prefix /usr it is lib/<multiarch> on Debian, where the
# executable never looks.
cmake_path(SET QV_INSTALL_MODULEDIR NORMALIZE "${CMAKE_INSTALL_BINDIR}/../lib/quorvel")
cmake_path(SET QV_INSTALL_CATALOGDIR NORMALIZE "${CMAKE_INSTALL_BINDIR}/../share/quorvel/locale")
set(QV_INSTALL_DOCDIR "${CMAKE_INSTALL_DATAROOTDIR}/doc/quorvel")
set(QV_INSTALL_ICONDIR "${CMAKE_INSTALL_DATADIR}/icons/hicolor")

# Folders made by the installation are 755 whatever the umask of the one installing.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
    GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

install(TARGETS quorvel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT ${QV_COMPONENT})
install(TARGETS quorvel-window LIBRARY DESTINATION ${QV_INSTALL_MODULEDIR}
        COMPONENT ${QV_COMPONENT})

# locale/CMakeLists.txt names the languages whose catalogs the build compiles.
foreach(lang IN LISTS QV_CATALOG_LANGUAGES)
    install(FILES ${CMAKE_BINARY_DIR}/locale/${lang}/LC_MESSAGES/default.mo
            DESTINATION ${QV_INSTALL_CATALOGDIR}/${lang}/LC_MESSAGES COMPONENT ${QV_COMPONENT})
endforeach()

install(FILES ${PROJECT_SOURCE_DIR}/resources/log.cfg.example DESTINATION ${QV_INSTALL_DOCDIR}
        COMPONENT ${QV_COMPONENT})

# The program's icon in the hicolor theme: resources/icons/quorvel-N.png is the NxN one.
install(FILES ${PROJECT_SOURCE_DIR}/resources/icons/quorvel.svg
        DESTINATION ${QV_INSTALL_ICONDIR}/scalable/apps COMPONENT ${QV_COMPONENT})
file(GLOB QV_ICON_PNGS CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/resources/icons/quorvel-*.png)
foreach(png IN LISTS QV_ICON_PNGS)
    string(REGEX MATCH "quorvel-([0-9]+)\\.png$" match ${png})
    if(NOT match)
        message(FATAL_ERROR "${png}: an icon is named quorvel-<size>.png")
    endif()
    install(FILES ${png} DESTINATION ${QV_INSTALL_ICONDIR}/${CMAKE_MATCH_1}x${CMAKE_MATCH_1}/apps
            RENAME quorvel.png COMPONENT ${QV_COMPONENT})
endforeach()

install(FILES ${PROJECT_SOURCE_DIR}/dist/${QV_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT ${QV_COMPONENT})
configure_file(${PROJECT_SOURCE_DIR}/dist/${QV_APP_ID}.metainfo.xml.in
               ${PROJECT_BINARY_DIR}/dist/${QV_APP_ID}.metainfo.xml @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/dist/${QV_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo COMPONENT ${QV_COMPONENT})
configure_file(${PROJECT_SOURCE_DIR}/dist/quorvel.1.in ${PROJECT_BINARY_DIR}/dist/quorvel.1 @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/dist/quorvel.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
        COMPONENT ${QV_COMPONENT})

# The Debian package: the same files below /usr, with dependencies found by dpkg-shlibdeps
# (it reads the executable and the module alike; both link only system libraries).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quorvel)
# All four parts, as the program and the release list name the version.
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Quorvel developers")
set(CPACK_PACKAGE_CONTACT "${QV_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "disk space usage analyser")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "Quorvel shows what takes up the space on your disks. It walks a folder, a drive or\n"
    "all local drives on worker threads and shows the size of every folder while the scan\n"
    "is still running, largest first, with bars for their shares. Items can be opened,\n"
    "shown in the file manager, moved to the trash or deleted from its list.\n"
    "\n"
    "With --export it scans without a window and writes the result as CSV, a text\n"
    "tree, HTML or XML.")
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_COMPONENTS_ALL ${QV_COMPONENT})
set(CPACK_DEBIAN_PACKAGE_NAME quorvel)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${QV_HOMEPAGE}")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Loaded at run time, so dpkg-shlibdeps cannot see them: Qt's platform plugins (without them
# no window opens), its SVG support (the icons), the translations of Qt's own texts,
# xdg-open, and a font for the Chinese interface.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libqt6svg6, qt6-translations-l10n, xdg-utils")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "qt6-wayland, fonts-wqy-microhei | fonts-noto-cjk")
# Debian keeps manual pages compressed.
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/CompressManPages.cmake)
include(CPack)
