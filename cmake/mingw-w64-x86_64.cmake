# Cross-compiles Ordana for Windows on x64 with Debian's mingw-w64 packages:
#   cmake --preset windows && cmake --build --preset windows
# The -posix compilers carry the C++ thread support that ordana-watch needs;
# the build links everything statically (see CMakeLists.txt), so the .exe
# needs no DLL beyond those of Windows itself.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ORDANA_MINGW_TRIPLET x86_64-w64-mingw32)
find_program(CMAKE_CXX_COMPILER NAMES ${ORDANA_MINGW_TRIPLET}-g++-posix ${ORDANA_MINGW_TRIPLET}-g++
             REQUIRED)
find_program(CMAKE_C_COMPILER NAMES ${ORDANA_MINGW_TRIPLET}-gcc-posix ${ORDANA_MINGW_TRIPLET}-gcc)
find_program(CMAKE_RC_COMPILER NAMES ${ORDANA_MINGW_TRIPLET}-windres REQUIRED)

set(CMAKE_FIND_ROOT_PATH /usr/${ORDANA_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Tests of the build itself run the results under Wine.
find_program(ORDANA_WINE NAMES wine wine64)
if(ORDANA_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ORDANA_WINE})
endif()
