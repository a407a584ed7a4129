# The Windows build (cross-built with mingw-w64, see cmake/mingw-w64-x86_64.cmake): libcurl and
# expat as static libraries from the prefix of tools/windows-deps.sh (or a package manager's on
# Windows), GoogleTest from its sources, and everything that runs in one folder, bin/, because
# Windows finds a program's DLLs beside it.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)

find_package(ZLIB REQUIRED)
find_package(CURL CONFIG REQUIRED)
find_package(expat CONFIG REQUIRED)
if(NOT TARGET EXPAT::EXPAT)
  add_library(EXPAT::EXPAT ALIAS expat::expat)
endif()

# The C++ runtime is shared: XmlRpc.dll hands C++ objects and exceptions to Bugzilla.dll, and
# only one libstdc++ and one unwinder in the process make that safe. Its DLLs go beside ours.
if(MINGW)
  foreach(runtime libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${runtime}
                    OUTPUT_VARIABLE runtime_path OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT IS_ABSOLUTE "${runtime_path}")
      find_file(runtime_path ${runtime} PATHS /usr/${MINGW_TRIPLET}/lib NO_CACHE)
    endif()
    if(NOT EXISTS "${runtime_path}")
      message(FATAL_ERROR "the mingw runtime ${runtime} was not found")
    endif()
    file(COPY ${runtime_path} DESTINATION ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})
    list(APPEND BUGZILLA_RUNTIME_DLLS ${runtime_path})
  endforeach()
endif()

# GoogleTest built with this compiler; Debian ships its sources with libgtest-dev.
set(BUGZILLA_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources for the Windows tests")
if(NOT TARGET GTest::gtest AND EXISTS ${BUGZILLA_GTEST_SOURCE}/CMakeLists.txt)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  add_subdirectory(${BUGZILLA_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
endif()

# Under wine when cross-built: one prefix per build folder, made by tools/test-windows.sh.
if(CMAKE_CROSSCOMPILING)
  find_program(WINE_PROGRAM NAMES wine64 wine)
  if(WINE_PROGRAM)
    set(CMAKE_CROSSCOMPILING_EMULATOR
        env WINEPREFIX=${CMAKE_BINARY_DIR}/wine WINEDEBUG=-all ${WINE_PROGRAM})
  endif()
endif()
