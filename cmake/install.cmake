# Install rules: `cmake --install BUILD --prefix DIR`, and what the packages hold.
#
# Linux (GNU layout under any prefix):
#   bin/issue-plugin-host
#   <libdir>/issue-plugins/bugzilla/libBugzilla.so, libXmlRpc.so   (the plug-in's own folder)
#   include/issue_plugin_api.h
#   share/doc/bugzilla-issue-plugin/README.md, SECURITY.md, BugzillaConnections.txt (a sample)
#   share/man/man1/issue-plugin-host.1.gz
# Windows (one folder, as zipped): issue-plugin-host.exe and the DLLs at the root, the header
#   in include/, the documents in doc/; Windows finds a DLL's imports beside it.
#
# The plug-in finds libXmlRpc.so beside itself ($ORIGIN), so its folder can be copied anywhere;
# the host finds both relative to its own directory. Tests, benchmarks, fuzz targets and the
# static libraries behind them are not installed.

set(BUGZILLA_PACKAGE_NAME bugzilla-issue-plugin)

if(WIN32)
  set(CMAKE_INSTALL_BINDIR . CACHE PATH "Executables and DLLs (the root of the folder)")
  set(CMAKE_INSTALL_DOCDIR doc CACHE PATH "Documentation")
else()
  set(CMAKE_INSTALL_DOCDIR share/doc/${BUGZILLA_PACKAGE_NAME} CACHE PATH "Documentation")
endif()
include(GNUInstallDirs)

if(WIN32)
  set(BUGZILLA_PLUGIN_INSTALL_DIR ${CMAKE_INSTALL_BINDIR})
else()
  set(BUGZILLA_PLUGIN_INSTALL_DIR ${CMAKE_INSTALL_LIBDIR}/issue-plugins/bugzilla)
endif()

# Executable modes are for programs; shared libraries are read-only data to the loader.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(BUGZILLA_LIBRARY_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)

# Import libraries (Windows) are of no use to anyone loading the plug-in: never installed.
install(TARGETS Bugzilla XmlRpc
  RUNTIME DESTINATION ${BUGZILLA_PLUGIN_INSTALL_DIR}
  LIBRARY DESTINATION ${BUGZILLA_PLUGIN_INSTALL_DIR} PERMISSIONS ${BUGZILLA_LIBRARY_PERMISSIONS}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} EXCLUDE_FROM_ALL)

# The mingw C++ runtime the DLLs share (cmake/windows.cmake), beside them.
if(BUGZILLA_RUNTIME_DLLS)
  install(FILES ${BUGZILLA_RUNTIME_DLLS} DESTINATION ${BUGZILLA_PLUGIN_INSTALL_DIR}
          PERMISSIONS ${BUGZILLA_LIBRARY_PERMISSIONS})
endif()

install(TARGETS issue-plugin-host RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# The host's way to its libraries and its default plug-in, both relative to its own directory.
# Worked out lexically from the relative install folders, so any prefix gives the same answer.
cmake_path(SET host_dir NORMALIZE "/prefix/${CMAKE_INSTALL_BINDIR}")
cmake_path(SET plugin_dir NORMALIZE "/prefix/${BUGZILLA_PLUGIN_INSTALL_DIR}")
cmake_path(RELATIVE_PATH plugin_dir BASE_DIRECTORY "${host_dir}"
           OUTPUT_VARIABLE BUGZILLA_PLUGIN_DIR_FROM_HOST)
if(BUGZILLA_PLUGIN_DIR_FROM_HOST STREQUAL "" OR BUGZILLA_PLUGIN_DIR_FROM_HOST STREQUAL ".")
  set(BUGZILLA_INSTALLED_PLUGIN_RELATIVE_PATH "$<TARGET_FILE_NAME:Bugzilla>")
else()
  set(BUGZILLA_INSTALLED_PLUGIN_RELATIVE_PATH
      "${BUGZILLA_PLUGIN_DIR_FROM_HOST}/$<TARGET_FILE_NAME:Bugzilla>")
endif()
target_compile_definitions(issue-plugin-host PRIVATE
  INSTALLED_PLUGIN_RELATIVE_PATH="${BUGZILLA_INSTALLED_PLUGIN_RELATIVE_PATH}")
if(NOT WIN32)
  set_target_properties(issue-plugin-host PROPERTIES
    INSTALL_RPATH "$ORIGIN/${BUGZILLA_PLUGIN_DIR_FROM_HOST}")
endif()

install(FILES ${BUGZILLA_SOURCE_ROOT}/IssuePluginLoader/include/issue_plugin_api.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${BUGZILLA_SOURCE_ROOT}/README.md ${BUGZILLA_SOURCE_ROOT}/SECURITY.md
              ${BUGZILLA_SOURCE_ROOT}/testing/sample/BugzillaConnections.txt
        DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The manual page, compressed as Debian wants it (-n: no name or time, so builds match).
if(NOT WIN32)
  set(man_page ${CMAKE_BINARY_DIR}/man/issue-plugin-host.1)
  configure_file(${BUGZILLA_SOURCE_ROOT}/man/issue-plugin-host.1 ${man_page} COPYONLY)
  find_program(GZIP_PROGRAM gzip REQUIRED)
  execute_process(COMMAND ${GZIP_PROGRAM} -9nkf ${man_page} COMMAND_ERROR_IS_FATAL ANY)
  install(FILES ${man_page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()
