#include "arguments.h"

namespace host {

std::vector<std::string> utf8_arguments(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);  // the bytes as given
}

}  // namespace host
