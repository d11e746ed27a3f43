# The export-table check needs PWDVMP32.DLL: cross-build it beside this build when MinGW-w64 is
# installed, so that every Linux build tests the DLL of the same sources.
find_program(MINGW_CXX i686-w64-mingw32-g++-posix)
find_program(MINGW_OBJDUMP i686-w64-mingw32-objdump)
option(PWDVMP32_EXPORT_CHECK "Cross-build PWDVMP32.DLL and check its export table" ON)

if(PWDVMP32_EXPORT_CHECK AND MINGW_CXX AND MINGW_OBJDUMP)
  include(ExternalProject)
  set(PWDVMP32_DLL_DIR ${CMAKE_BINARY_DIR}/mingw-i686)
  ExternalProject_Add(pwdvmp32_dll
    SOURCE_DIR ${PROJECT_SOURCE_DIR}
    BINARY_DIR ${PWDVMP32_DLL_DIR}
    CMAKE_ARGS
      -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/toolchain-mingw-i686.cmake
      -DCMAKE_BUILD_TYPE=Release
      -DPWDVMP32_TESTS=OFF
    INSTALL_COMMAND ""
    BUILD_ALWAYS ON
    USES_TERMINAL_BUILD ON)
  set(PWDVMP32_DLL_PATH ${PWDVMP32_DLL_DIR}/PWDVMP32.DLL)
else()
  set(PWDVMP32_DLL_PATH "")
  message(STATUS "MinGW-w64 not found: the export-table check is not built")
endif()
