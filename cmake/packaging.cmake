# Packages made by CPack from the install rules (cmake/install.cmake), with the project's
# version: on Linux `make package` makes a Debian package installing under /usr; a Windows
# build makes a zip of its install folder.

set(BUGZILLA_PACKAGE_MAINTAINER "Quenmoor Software <packaging@quenmoor.example>"
    CACHE STRING "Maintainer named in the Debian package and its changelog")
# The date of the release entry in the package changelog; set with the version.
set(BUGZILLA_RELEASE_DATE "Tue, 08 Dec 2026 12:00:00 +0000")

set(CPACK_PACKAGE_NAME ${BUGZILLA_PACKAGE_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Quenmoor Software")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Bugzilla issue-tracker plug-in for the Velloran version-control server")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "The plug-in lists the bugs of a Bugzilla product, opens one, and attaches\n"
    "checked-in file versions to bugs as comments with kova:// links back to the\n"
    "version-control server. It speaks Bugzilla's XML-RPC web service (Bugzilla 3.x\n"
    "to 5.x, http or https) through its own XML-RPC client library.\n"
    "\n"
    "issue-plugin-host loads the plug-in as the server does, to check a Bugzilla\n"
    "configuration (issue-plugin-host doctor) or drive the plug-in from scripts.")
set(CPACK_STRIP_FILES ON)

if(WIN32)
  # The folder the install rules make, zipped under one top folder of the same name.
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME ${CPACK_PACKAGE_NAME}-${PROJECT_VERSION}-win64)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${BUGZILLA_PACKAGE_MAINTAINER})
  set(CPACK_DEBIAN_PACKAGE_SECTION vcs)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # libcurl, expat and the C and C++ runtimes, as the binaries need them (dpkg-shlibdeps).
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

  # What Debian asks of every package and a plain install does not need: the copyright file
  # in machine-readable form and a changelog, compressed reproducibly.
  set(debian_dir ${CMAKE_BINARY_DIR}/debian)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/changelog.in ${debian_dir}/changelog @ONLY)
  execute_process(COMMAND ${GZIP_PROGRAM} -9nkf ${debian_dir}/changelog COMMAND_ERROR_IS_FATAL ANY)
  install(FILES ${CMAKE_CURRENT_LIST_DIR}/debian/copyright ${debian_dir}/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT debian EXCLUDE_FROM_ALL)
  set(CPACK_INSTALL_CMAKE_PROJECTS
      "${CMAKE_BINARY_DIR};${PROJECT_NAME};ALL;/"
      "${CMAKE_BINARY_DIR};${PROJECT_NAME};debian;/")
endif()

include(CPack)

# The package built, checked and run unpacked against the test server. Sanitized builds make
# binaries no one would ship, so the test belongs to the plain build only.
if(NOT WIN32 AND NOT BUGZILLA_SANITIZE AND NOT BUGZILLA_TSAN)
  add_test(NAME package_deb
    COMMAND ${BUGZILLA_SOURCE_ROOT}/testing/package_test.sh ${CMAKE_BINARY_DIR}
            ${CMAKE_CPACK_COMMAND} ${PROJECT_VERSION} ${BUGZILLA_PLUGIN_INSTALL_DIR})
  set_tests_properties(package_deb PROPERTIES LABELS package SKIP_RETURN_CODE 77 TIMEOUT 300)
endif()
