# Shared by the MinGW-w64 clang toolchain files, which set MINGW_TRIPLE and
# CMAKE_SYSTEM_PROCESSOR first. Clang and lld target MinGW-w64 themselves;
# the headers, the import libraries and the GCC runtime come from Debian's
# MinGW-w64 GCC packages.
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)

find_program(MINGW_CLANGXX clang++)
find_program(MINGW_LLD ld.lld)
if(NOT MINGW_CLANGXX OR NOT MINGW_LLD)
    message(FATAL_ERROR "clang++ or ld.lld not found: install Debian's clang "
        "and lld (scripts/deps.sh does)")
endif()
# Debian names the GCC runtime's folder after its thread model, which clang
# does not look for: find it here.
file(GLOB MINGW_GCC_LIBS /usr/lib/gcc/${MINGW_TRIPLE}/*-win32)
if(NOT MINGW_GCC_LIBS)
    message(FATAL_ERROR "/usr/lib/gcc/${MINGW_TRIPLE}/*-win32 not found: install "
        "Debian's g++-mingw-w64-${MINGW_PACKAGE_ARCH}-win32 (scripts/deps.sh does)")
endif()
list(GET MINGW_GCC_LIBS -1 MINGW_GCC_LIBS)

set(CMAKE_CXX_COMPILER ${MINGW_CLANGXX})
# Resources (the check program's manifest) by the same packages' windres.
set(CMAKE_RC_COMPILER ${MINGW_TRIPLE}-windres)
set(CMAKE_CXX_COMPILER_TARGET ${MINGW_TRIPLE})
foreach(kind EXE SHARED MODULE)
    set(CMAKE_${kind}_LINKER_FLAGS_INIT "-fuse-ld=lld -L${MINGW_GCC_LIBS}")
endforeach()
