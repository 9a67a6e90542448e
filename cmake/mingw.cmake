# What both cross-builds for Windows share (MinGW-w64, posix threads, static runtime); the
# toolchain files mingw-i686.cmake and mingw-x86_64.cmake set the target first.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER   ${MINGW_TARGET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MINGW_TARGET}-g++-posix)
set(CMAKE_RC_COMPILER  ${MINGW_TARGET}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_TARGET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
# Test programs run under the Wine of their architecture (cmake/wine-arch.sh).
set(CMAKE_CROSSCOMPILING_EMULATOR sh ${CMAKE_CURRENT_LIST_DIR}/wine-arch.sh ${WINE_ARCH} wine)
