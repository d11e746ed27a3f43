# The export-table check needs PWDVMP32.DLL and MinGW-w64's objdump; the i386 build's second run of
# the end-to-end tests needs the DLL. The DLL is either one built already (PWDVMP32_DLL, e.g. by the
# mingw-i686 preset, so that CI builds it once) or cross-built here, beside this build, from the
# same sources. Asked for and impossible: the configure fails.
option(PWDVMP32_EXPORT_CHECK "Check the export and import tables of PWDVMP32.DLL" ON)
if(CMAKE_SIZEOF_VOID_P EQUAL 4 AND CMAKE_SYSTEM_PROCESSOR MATCHES "^i.86$")
  option(PWDVMP32_DLL_TESTS "Run the end-to-end tests against PWDVMP32.DLL too, through the PE loader" ON)
else()
  set(PWDVMP32_DLL_TESTS OFF)
endif()
set(PWDVMP32_DLL "" CACHE FILEPATH "An existing PWDVMP32.DLL to check instead of cross-building one")
find_program(MINGW_CXX i686-w64-mingw32-g++-win32)
find_program(MINGW_OBJDUMP i686-w64-mingw32-objdump)

set(PWDVMP32_DLL_PATH "")
if(PWDVMP32_EXPORT_CHECK OR PWDVMP32_DLL_TESTS)
  if(PWDVMP32_EXPORT_CHECK AND NOT MINGW_OBJDUMP)
    message(FATAL_ERROR "The export check needs i686-w64-mingw32-objdump (binutils-mingw-w64-i686); "
                        "install it or configure with -DPWDVMP32_EXPORT_CHECK=OFF")
  endif()
  if(PWDVMP32_DLL)
    set(PWDVMP32_DLL_PATH ${PWDVMP32_DLL})
  elseif(MINGW_CXX)
    include(ExternalProject)
    set(PWDVMP32_DLL_DIR ${CMAKE_BINARY_DIR}/mingw-i686)
    ExternalProject_Add(pwdvmp32_dll
      SOURCE_DIR ${PROJECT_SOURCE_DIR}
      BINARY_DIR ${PWDVMP32_DLL_DIR}
      CMAKE_ARGS
        -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/toolchain-mingw-i686.cmake
        -DCMAKE_BUILD_TYPE=Release
        -DPWDVMP32_TESTS=OFF
        -DPWDVMP32_WERROR=${PWDVMP32_WERROR}
      INSTALL_COMMAND ""
      BUILD_ALWAYS ON
      USES_TERMINAL_BUILD ON)
    set(PWDVMP32_DLL_PATH ${PWDVMP32_DLL_DIR}/PWDVMP32.DLL)
  else()
    message(FATAL_ERROR "The export check and the DLL tests need PWDVMP32.DLL: install g++-mingw-w64-i686-win32, "
                        "pass -DPWDVMP32_DLL=<path>, or configure with -DPWDVMP32_EXPORT_CHECK=OFF "
                        "-DPWDVMP32_DLL_TESTS=OFF")
  endif()
endif()
