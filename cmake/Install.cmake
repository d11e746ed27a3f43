# What `cmake --install` puts under the prefix, in the usual places:
#   bin/drivemap                      run path $ORIGIN/../lib
#   lib/libpwdvmp32.so.0, lib/libwin32host.so.0 (versioned SONAMEs) and their development links
#   include/pwdvmp32/                 the public headers
#   lib/cmake/pwdvmp32/               find_package(pwdvmp32 CONFIG): pwdvmp32::pwdvmp32, pwdvmp32::win32host
#   lib/pkgconfig/pwdvmp32.pc
#   share/pwdvmp32/PURGWELL.DAT       the default settings data file (drivemap carries it compiled in)
#   share/man/man1/drivemap.1.gz, bash and zsh completion, share/doc/pwdvmp32/
include(CMakePackageConfigHelpers)

set(PWDVMP32_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/pwdvmp32)

install(TARGETS win32host pwdvmp32 EXPORT pwdvmp32-targets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(TARGETS drivemap RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES include/pwdvmp32.h include/pwdvmp32_errors.h include/win32.h include/host_machine.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/pwdvmp32)
install(FILES data/PURGWELL.DAT DESTINATION ${CMAKE_INSTALL_DATADIR}/pwdvmp32)

install(EXPORT pwdvmp32-targets NAMESPACE pwdvmp32:: DESTINATION ${PWDVMP32_CMAKE_DIR})
configure_package_config_file(cmake/pwdvmp32-config.cmake.in ${CMAKE_CURRENT_BINARY_DIR}/pwdvmp32-config.cmake
                              INSTALL_DESTINATION ${PWDVMP32_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/pwdvmp32-config-version.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/pwdvmp32-config.cmake ${CMAKE_CURRENT_BINARY_DIR}/pwdvmp32-config-version.cmake
        DESTINATION ${PWDVMP32_CMAKE_DIR})

file(RELATIVE_PATH PC_TO_PREFIX ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
string(REGEX REPLACE "/$" "" PC_TO_PREFIX "${PC_TO_PREFIX}")
configure_file(cmake/pwdvmp32.pc.in ${CMAKE_CURRENT_BINARY_DIR}/pwdvmp32.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/pwdvmp32.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

install(FILES tools/drivemap/completion/drivemap.bash DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
        RENAME drivemap)
install(FILES tools/drivemap/completion/_drivemap DESTINATION ${CMAKE_INSTALL_DATADIR}/zsh/vendor-completions)

# Manual page and changelog compressed, as Debian keeps them; gzip -n leaves out the time stamp.
# The manual page is drivemap's help, so it needs a drivemap that runs here: not in cross builds.
set(PWDVMP32_CHANGELOG_GZ ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz)
add_custom_command(OUTPUT ${PWDVMP32_CHANGELOG_GZ}
  COMMAND gzip -n -9 -c ${PROJECT_SOURCE_DIR}/CHANGELOG.md > ${PWDVMP32_CHANGELOG_GZ}
  DEPENDS ${PROJECT_SOURCE_DIR}/CHANGELOG.md)
add_custom_target(pwdvmp32_changelog ALL DEPENDS ${PWDVMP32_CHANGELOG_GZ})
if(NOT CMAKE_CROSSCOMPILING)
  set(PWDVMP32_MAN_PAGE ${CMAKE_CURRENT_BINARY_DIR}/drivemap.1)
  add_custom_command(OUTPUT ${PWDVMP32_MAN_PAGE}
    COMMAND ${CMAKE_COMMAND} -DDRIVEMAP=$<TARGET_FILE:drivemap> -DOUTPUT=${PWDVMP32_MAN_PAGE}
            -P ${PROJECT_SOURCE_DIR}/tools/drivemap/man_page.cmake
    DEPENDS drivemap ${PROJECT_SOURCE_DIR}/tools/drivemap/man_page.cmake
    COMMENT "Writing drivemap.1 from drivemap's help"
    VERBATIM)
  add_custom_command(OUTPUT ${PWDVMP32_MAN_PAGE}.gz
    COMMAND gzip -n -9 -f -k ${PWDVMP32_MAN_PAGE}
    DEPENDS ${PWDVMP32_MAN_PAGE}
    VERBATIM)
  add_custom_target(drivemap_man_page ALL DEPENDS ${PWDVMP32_MAN_PAGE}.gz)
  install(FILES ${PWDVMP32_MAN_PAGE}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()
install(FILES ${PWDVMP32_CHANGELOG_GZ} README.md DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/pwdvmp32)
install(FILES LICENSE DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/pwdvmp32 RENAME copyright)
