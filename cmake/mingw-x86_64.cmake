# Cross-build for 64-bit Windows (x64).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(MINGW_TARGET x86_64-w64-mingw32)
set(WINE_ARCH x64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
