# `cpack` in the Windows build: the SDK zip of PWDVMP32.DLL, its import library, the public header
# (with the one it includes and the error table), the export definitions and the README.
install(TARGETS pwdvmp32 RUNTIME DESTINATION bin ARCHIVE DESTINATION lib)
install(FILES include/pwdvmp32.h include/pwdvmp32_errors.h include/win32.h DESTINATION include)
install(FILES src/exports/PWDVMP32.def DESTINATION lib)
install(FILES README.md LICENSE CHANGELOG.md DESTINATION .)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME pwdvmp32-sdk)
set(CPACK_SYSTEM_NAME win32)
set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)
include(CPack)
