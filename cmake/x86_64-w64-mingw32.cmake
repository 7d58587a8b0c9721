# Cross-compile for Windows with MinGW-w64 GCC (x86_64, PE32+).
set(MINGW_TRIPLE x86_64-w64-mingw32)
set(MINGW_PACKAGE_ARCH x86-64)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-gcc.cmake)
