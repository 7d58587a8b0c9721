# Cross-compile for Windows with clang and lld for MinGW-w64 (i686, PE32).
set(MINGW_TRIPLE i686-w64-mingw32)
set(MINGW_PACKAGE_ARCH i686)
set(CMAKE_SYSTEM_PROCESSOR i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-clang.cmake)
