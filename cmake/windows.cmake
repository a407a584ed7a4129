# The Windows build (cross-built with mingw-w64, see cmake/mingw-w64-x86_64.cmake): libcurl,
# expat and simdjson as static libraries from the prefix of tools/windows-deps.sh (or a package manager's on
# Windows), GoogleTest from its sources, and everything that runs in one folder, bin/, because
# Windows finds a program's DLLs beside it.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)

find_package(ZLIB REQUIRED)
find_package(CURL CONFIG REQUIRED)
find_package(expat CONFIG REQUIRED)
find_package(simdjson CONFIG REQUIRED)  # static, from the same prefix: linked into XmlRpc.dll
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
    # Without their debugging sections: libstdc++-6.dll shrinks from 23 MB to 2 MB.
    set(runtime_copy ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/${runtime})
    if(${runtime_path} IS_NEWER_THAN ${runtime_copy})
      file(COPY ${runtime_path} DESTINATION ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})
      execute_process(COMMAND ${CMAKE_STRIP} --strip-debug ${runtime_copy}
                      COMMAND_ERROR_IS_FATAL ANY)
    endif()
    list(APPEND BUGZILLA_RUNTIME_DLLS ${runtime_copy})
  endforeach()
endif()

# The host's header-only libraries from the build machine (nlohmann-json3-dev, libcli11-dev),
# copied out of /usr/include so that none of the machine's own system headers comes along.
foreach(header_dir nlohmann CLI)
  if(EXISTS /usr/include/${header_dir})
    file(COPY /usr/include/${header_dir} DESTINATION ${CMAKE_BINARY_DIR}/header-only)
  endif()
endforeach()
foreach(target nlohmann_json::nlohmann_json CLI11::CLI11)
  add_library(${target} INTERFACE IMPORTED GLOBAL)
  set_target_properties(${target} PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES ${CMAKE_BINARY_DIR}/header-only)
endforeach()

# GoogleTest built with this compiler from the sources Debian ships with libgtest-dev. Its
# own CMake project is not used: it would fix the install folders before cmake/install.cmake.
set(BUGZILLA_GTEST_SOURCE /usr/src/googletest/googletest CACHE PATH
    "GoogleTest sources (the folder holding src/gtest-all.cc) for the Windows tests")
if(NOT TARGET GTest::gtest AND EXISTS ${BUGZILLA_GTEST_SOURCE}/src/gtest-all.cc)
  find_package(Threads REQUIRED)
  add_library(gtest STATIC ${BUGZILLA_GTEST_SOURCE}/src/gtest-all.cc)
  target_include_directories(gtest SYSTEM PUBLIC ${BUGZILLA_GTEST_SOURCE}/include
                             PRIVATE ${BUGZILLA_GTEST_SOURCE})
  target_link_libraries(gtest PUBLIC Threads::Threads)
  add_library(gtest_main STATIC ${BUGZILLA_GTEST_SOURCE}/src/gtest_main.cc)
  target_link_libraries(gtest_main PUBLIC gtest)
  add_library(GTest::gtest ALIAS gtest)
  add_library(GTest::gtest_main ALIAS gtest_main)
endif()

# Under wine when cross-built: one prefix per build folder, made by tools/test-windows.sh.
if(CMAKE_CROSSCOMPILING)
  find_program(WINE_PROGRAM NAMES wine64 wine)
  if(WINE_PROGRAM)
    set(CMAKE_CROSSCOMPILING_EMULATOR
        env WINEPREFIX=${CMAKE_BINARY_DIR}/wine WINEDEBUG=-all ${WINE_PROGRAM})
  endif()
endif()

# Installing and packaging need the DLLs only, not every test program (make windows).
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
