# Writes the module-definition file of Bugzilla.dll from the one list of the plug-in's
# exports (issue_plugin_exports.h, which the Linux version script is tested against): the
# descriptor texts and the API version as DATA (the host reads them at their own address),
# the functions undecorated.
function(bugzilla_write_def exports_header def_file)
  file(READ ${exports_header} header)
  set(text "LIBRARY Bugzilla\nEXPORTS\n")
  set(count 0)
  foreach(list_name DESCRIPTORS FUNCTIONS)
    # The macro's body: its continued lines, up to the first line without a backslash.
    if(NOT header MATCHES "#define ISSUE_PLUGIN_${list_name}\\(X\\)[^\n]*\\\\\n(([^\n]*\\\\\n)*[^\n]*)\n")
      message(FATAL_ERROR "${exports_header} has no ISSUE_PLUGIN_${list_name} list")
    endif()
    string(REGEX MATCHALL "X\\(([A-Za-z_][A-Za-z0-9_]*)" entries "${CMAKE_MATCH_1}")
    foreach(entry IN LISTS entries)
      string(SUBSTRING "${entry}" 2 -1 name)
      if(list_name STREQUAL "DESCRIPTORS")
        string(APPEND text "  KOVAIP_${name} DATA\n")
      else()
        string(APPEND text "  ${name}\n")
      endif()
      math(EXPR count "${count} + 1")
    endforeach()
  endforeach()
  if(NOT count EQUAL 22)
    message(FATAL_ERROR "${exports_header} lists ${count} exports; the plug-in API has 22")
  endif()
  file(WRITE ${def_file}.new "${text}")
  configure_file(${def_file}.new ${def_file} COPYONLY)  # rewritten only when it changes
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${exports_header})
endfunction()
