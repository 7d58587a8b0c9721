# Cross-compile for Windows with MinGW-w64 GCC (i686, PE32).
set(MINGW_TRIPLE i686-w64-mingw32)
set(MINGW_PACKAGE_ARCH i686)
set(CMAKE_SYSTEM_PROCESSOR i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-gcc.cmake)
