# Cross build of the Windows product with Debian's mingw-w64 (g++-mingw-w64-x86-64).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(KALV_MINGW_PREFIX x86_64-w64-mingw32)

# The -posix flavour brings std::thread/std::mutex; fall back to the default one.
find_program(CMAKE_C_COMPILER NAMES ${KALV_MINGW_PREFIX}-gcc-posix ${KALV_MINGW_PREFIX}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${KALV_MINGW_PREFIX}-g++-posix ${KALV_MINGW_PREFIX}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${KALV_MINGW_PREFIX}-windres REQUIRED)

set(CMAKE_FIND_ROOT_PATH /usr/${KALV_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Tests of the cross build run under Wine.
find_program(KALV_WINE NAMES wine wine64)
if(KALV_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${KALV_WINE})
endif()
