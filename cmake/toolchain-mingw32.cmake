# Cross build for Windows with mingw-w64. The product's home is 32-bit Windows:
#   cmake -S . -B build-win32 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw32.cmake
# A machine whose kernel runs no 32-bit programs cannot run 32-bit wine; there the same
# sources are built for x86_64 to be run under wine64:
#   ... -DVARNEX_MINGW_TRIPLET=x86_64-w64-mingw32
set(CMAKE_SYSTEM_NAME Windows)

set(VARNEX_MINGW_TRIPLET i686-w64-mingw32 CACHE STRING "Prefix of the mingw-w64 tools")
if(VARNEX_MINGW_TRIPLET MATCHES "^x86_64")
  set(CMAKE_SYSTEM_PROCESSOR AMD64)
else()
  set(CMAKE_SYSTEM_PROCESSOR i686)
endif()

# The -posix flavour carries std::thread and std::mutex, which the tests use.
find_program(VARNEX_MINGW_CXX NAMES ${VARNEX_MINGW_TRIPLET}-g++-posix ${VARNEX_MINGW_TRIPLET}-g++
             REQUIRED)
find_program(VARNEX_MINGW_CC NAMES ${VARNEX_MINGW_TRIPLET}-gcc-posix ${VARNEX_MINGW_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${VARNEX_MINGW_CXX})
if(VARNEX_MINGW_CC)
  set(CMAKE_C_COMPILER ${VARNEX_MINGW_CC})
endif()
set(CMAKE_RC_COMPILER ${VARNEX_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VARNEX_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test binaries run through wine when it is there (ctest, gtest_discover_tests).
if(NOT DEFINED VARNEX_WINE)
  if(VARNEX_MINGW_TRIPLET MATCHES "^x86_64")
    find_program(VARNEX_WINE NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
  endif()
  find_program(VARNEX_WINE NAMES wine)
endif()
if(VARNEX_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VARNEX_WINE})
endif()

# Test lists are read when ctest runs, under wine, not at build time: the cross build
# then succeeds on a machine without wine.
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST CACHE STRING "")
