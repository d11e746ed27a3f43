# `cpack` in a Linux build: a Debian package of what cmake/Install.cmake installs, under /usr.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pwdvmp32)
set(CPACK_PACKAGE_VENDOR "PWDVMP32 developers")
set(PWDVMP32_MAINTAINER "PWDVMP32 developers <pwdvmp32@example.org>" CACHE STRING
    "The Debian package's maintainer: a name and a mail address")
set(CPACK_PACKAGE_CONTACT ${PWDVMP32_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "drive map of local disks and the modules executables import")
set(CPACK_PACKAGE_DESCRIPTION
    "PWDVMP32 keeps a drive map: every directory and file of a machine's local\n"
    "disks and, for each executable (16-bit NE, 32-bit PE), the modules its import\n"
    "tables reference. This package holds the drivemap command, which builds the\n"
    "map and answers questions from it, the library over its emulation of the\n"
    "Win32 calls it uses, and their development files.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_BINARY_DIR}/packages)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)  # dpkg-shlibdeps: libc6, libstdc++6, libgcc-s1 at their versions
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_LIST_DIR}/debian/triggers)  # ldconfig after (un)install
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
