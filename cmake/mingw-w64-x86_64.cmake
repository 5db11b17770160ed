# Cross-compiles dbcpack for 64-bit Windows with Debian's MinGW-w64 g++
# (package g++-mingw-w64-x86-64). The POSIX threading flavour of the
# compiler is used so that the whole C++ standard library, threads
# included, is there for the tests; -static in the build keeps its runtime
# inside the executable.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(DBCPACK_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${DBCPACK_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${DBCPACK_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${DBCPACK_MINGW_PREFIX}-windres)

# Libraries and headers come from the MinGW tree only, never from the host;
# programs (the compiler, Wine) from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${DBCPACK_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Every program, the tests included, carries its C++ runtime inside, so it
# runs on a bare Windows (or Wine) without MinGW's DLLs on the path.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
