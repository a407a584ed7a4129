#include "session.h"

#include <XmlRpc/XmlRpcPlatform.h>

namespace bugzilla {

Session::~Session() {
  try {
    if (!cookie_file_path.empty()) XmlRpc::platform::remove_file(cookie_file_path);
  } catch (...) {
    // Out of memory while converting the name: the file stays, owner-only as written.
  }
}

}  // namespace bugzilla
