// The program's arguments as UTF-8 texts. Windows hands main() its arguments in the ANSI code
// page, which cannot hold every file name: there they come from the wide-character command
// line instead, and the console is told to show UTF-8.
#pragma once

#include <string>
#include <vector>

namespace host {

std::vector<std::string> utf8_arguments(int argc, char** argv);

}  // namespace host
