# `cpack -G DEB` in the build folder makes a Debian package of what `cmake --install` installs:
# the program, its desktop entry, metainfo and icons. dpkg-shlibdeps finds the Qt libraries it
# links; the rest of what it needs at run time is named here.
set(CPACK_PACKAGE_NAME quillmor-mikrotik-setup)
set(CPACK_PACKAGE_VENDOR Quillmor)
set(CPACK_PACKAGE_CONTACT "Quillmor <support@quillmor.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Attach a MikroTik router to the Quillmor billing service")
set(CPACK_PACKAGE_DESCRIPTION "A wizard for the field staff of an internet service provider: \
sign in to the Quillmor account, connect to a MikroTik router over SSH, and link it to Quillmor \
over WireGuard.")
set(CPACK_PACKAGE_HOMEPAGE_URL https://quillmor.com)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The router jobs start the system's ssh; the password helper is a shell script.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "openssh-client")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland")
set(CPACK_GENERATOR DEB)
include(CPack)
