# Shared by the MinGW-w64 GCC toolchain files, which set MINGW_TRIPLE and
# CMAKE_SYSTEM_PROCESSOR first.
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)

find_program(MINGW_CXX ${MINGW_TRIPLE}-g++)
if(NOT MINGW_CXX)
    message(FATAL_ERROR "${MINGW_TRIPLE}-g++ not found: install Debian's "
        "g++-mingw-w64-${MINGW_PACKAGE_ARCH}-win32 (scripts/deps.sh does)")
endif()
set(CMAKE_CXX_COMPILER ${MINGW_CXX})
