# `make package`: a Debian package of what `cmake --install` puts in place (the binary, its
# desktop entry, its icons and its AppStream metainfo), installed under /usr.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME brevlin)
set(CPACK_PACKAGE_VENDOR Brevlin)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Launch Figma plugins from a compact dock and global hotkeys")
set(CPACK_PACKAGE_DESCRIPTION
    "Brevlin keeps a small always-on-top dock of shortcut buttons. Each button, or the system-wide
hotkey assigned to it, runs one named plugin in the Figma desktop app by driving Figma as a
person at the keyboard would.")
set(CPACK_PACKAGE_CONTACT "Brevlin developers")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
# The libraries the binary links come from dpkg-shlibdeps; the X11 platform plugin and the
# accessibility bus are loaded at run time, so they are named here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "at-spi2-core")

include(CPack)
