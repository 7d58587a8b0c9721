# Shared by the MinGW-w64 GCC toolchain files, which set MINGW_TRIPLE and
# CMAKE_SYSTEM_PROCESSOR first.
set(CMAKE_SYSTEM_NAME Windows)

find_program(MINGW_CXX ${MINGW_TRIPLE}-g++)
if(NOT MINGW_CXX)
    message(FATAL_ERROR "${MINGW_TRIPLE}-g++ not found: install Debian's "
        "g++-mingw-w64-${MINGW_PACKAGE_ARCH}-win32 (scripts/deps.sh does)")
endif()
set(CMAKE_CXX_COMPILER ${MINGW_CXX})

set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
