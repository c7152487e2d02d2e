# The Debian package (scripts/package.sh runs `cpack -G DEB` over a Release build): what
# `cmake --install` puts in place (see data/CMakeLists.txt), as quorvale_<version>_<arch>.deb.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quorvale)
set(CPACK_PACKAGE_VENDOR "The Quorvale developers")
set(CPACK_PACKAGE_CONTACT "${QUORVALE_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
file(READ ${PROJECT_SOURCE_DIR}/data/package-description.txt description)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "${description}")
set(CPACK_DEBIAN_PACKAGE_SECTION mail)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Libraries come from the binary (dpkg-shlibdeps). Beyond them: a platform plugin, without which
# the window cannot open (libqt6gui6 only recommends it); CUPS's lp for printing, and the
# certificate authorities that the always-verified TLS connection to the mail server needs.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "cups-client, ca-certificates, libsecret-1-0")
# A keyring that answers on the session bus keeps the password and the sign-in out of files.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "gnome-keyring")

include(CPack)
