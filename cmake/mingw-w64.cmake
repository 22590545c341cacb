# Cross-compiles for 64-bit Windows with Debian's MinGW-w64 (posix thread model). Programs are
# linked statically, so they run under Wine or on Windows without any MinGW DLL next to them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(BRELIN_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${BRELIN_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${BRELIN_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${BRELIN_MINGW_TRIPLET}-windres)

# Search only the MinGW sysroot (and the prefix where the MinGW GoogleTest is installed) for
# headers and libraries; programs still come from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${BRELIN_MINGW_TRIPLET} ${BRELIN_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Files are binary, as on Linux: binmode.o turns off the C runtime's newline translation for
# every file the program opens (image, reports, standard streams).
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static /usr/${BRELIN_MINGW_TRIPLET}/lib/binmode.o")
# Open flags the Windows C runtime lacks: close-on-exec is spelled "not inherited", and there is
# no non-blocking open (it only matters for FIFOs, which Windows files never are).
set(CMAKE_CXX_FLAGS_INIT "-DO_CLOEXEC=_O_NOINHERIT -DO_NONBLOCK=0")

# CLI11 is header-only, but Debian's package points at /usr/include, which must not be searched
# for a Windows build: a stand-in package exposes a copy of just its headers.
set(CLI11_DIR ${CMAKE_CURRENT_LIST_DIR}/mingw CACHE PATH "")
