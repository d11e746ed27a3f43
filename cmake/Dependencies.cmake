# Third-party packages, all from Debian.
find_package(Threads REQUIRED)
find_package(Boost 1.74 REQUIRED)          # Boost.Interprocess: the allocator of global memory

if(PWDVMP32_TESTS)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    # No 32-bit GoogleTest package: build it from Debian's sources with this toolchain.
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
    if(NOT TARGET GTest::gtest)
      add_library(GTest::gtest ALIAS gtest)
      add_library(GTest::gtest_main ALIAS gtest_main)
    endif()
  else()
    find_package(GTest REQUIRED)
  endif()
endif()
