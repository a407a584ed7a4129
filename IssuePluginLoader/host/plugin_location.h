// Where the host finds the plug-in when no --plugin is given.
#pragma once

#include <string>

namespace host {

// The installed plug-in relative to this executable, when it is there (an install under any
// prefix, or the installed tree copied elsewhere); otherwise the plug-in of the build this
// host was built with.
std::string default_plugin_path();

}  // namespace host
