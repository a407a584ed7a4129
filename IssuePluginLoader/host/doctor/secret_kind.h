// Which secret a Bugzilla connection signs in with, as the plug-in reads the connection: the
// password prompt names it. Lives beside doctor, the one part that links plug-in internals.
#pragma once

#include <string>

namespace host {

// "API key" for a connection with <authentication>api_key</authentication>, else "password"
// (also when the connection cannot be read: the plug-in then reports that itself).
std::string secret_name_for(const std::string& data_dir, const std::string& connection);

}  // namespace host
