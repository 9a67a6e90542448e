# Cross-build for 32-bit Windows (x86).
set(CMAKE_SYSTEM_PROCESSOR x86)
set(MINGW_TARGET i686-w64-mingw32)
set(WINE_ARCH x86)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
