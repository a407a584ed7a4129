# Cross-compiling for 64-bit Windows with Debian's mingw-w64 (posix thread model: std::mutex
# and std::thread exist only there).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${MINGW_TRIPLET}-windres)

# Libraries come from the mingw sysroot and the prefix built by tools/windows-deps.sh, never
# from the build machine; programs (python3, wine) from the build machine.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES BUGZILLA_WINDOWS_PREFIX)
set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_TRIPLET} ${BUGZILLA_WINDOWS_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# zlib exists there as a DLL import library too; curl must take the static one.
set(ZLIB_USE_STATIC_LIBS ON)
