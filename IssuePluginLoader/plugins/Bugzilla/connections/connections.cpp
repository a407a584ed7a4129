// The connections file: read afresh on every call (edits take effect at once), parsed by the
// XML-RPC library, listed for the host and searched by connection name.
#include "connections.h"

#include "plugin_state.h"
#include "records.h"
#include "reply_reading.h"

#include <XmlRpc/XmlRpcPlatform.h>

#include <cstring>
#include <fstream>
#include <memory>

namespace bugzilla {

namespace {

using XmlRpc::XmlRpcValue;

const char kFileMissing[] = "BugzillaConnections.txt does not exist";
const char kFileMalformed[] = "BugzillaConnections.txt is formatted incorrectly";
const char kConnectionNotFound[] = "Connection Not Found";

// A message being built; released unless it is handed to the caller.
using OwnedText = std::unique_ptr<char[]>;

// The parsed connections as an array; a parser that reported success with nothing at all
// means no connections.
XmlRpcValue::ValueArray& connections_of(XmlRpcValue& list) {
  list.assertTypeOrInvalid(XmlRpcValue::TypeArray);
  return list.asArray();
}

}  // namespace

bool read_joined_file(const std::string& path, std::string& joined) {
  // Binary: Windows' text mode would take "\r\n" out before the check below sees the bytes.
  std::ifstream file(XmlRpc::platform::file_path(path), std::ios::binary);
  if (!file.is_open()) return false;
  joined.clear();
  std::string line;
  // The parser gets the whole file as one line, so a value broken over two lines joins up.
  while (std::getline(file, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    joined += line;
  }
  return true;
}

namespace {

int load_connections_from(const std::string& path, XmlRpcValue& list, char** error_out) {
  std::string joined;
  if (!read_joined_file(path, joined)) {
    *error_out = dup_cstring(kFileMissing);
    return 1;
  }
  const int result = list.connectionList(joined);
  if (result == 0) return 0;

  if (list.getType() != XmlRpcValue::TypeArray) {
    *error_out = dup_cstring(kFileMalformed);
    return result;
  }
  // Of several bad entries, the last one's reason is reported.
  OwnedText message;
  for (XmlRpcValue& element : list.asArray()) {
    if (element.hasMember("fault")) message.reset(value_to_cstring(element["fault"]));
  }
  if (message) *error_out = message.release();
  return result;
}

}  // namespace

int load_connections(XmlRpcValue& list, char** error_out) {
  return load_connections_from(connections_file_path(), list, error_out);
}

int find_connection(const char* name, XmlRpcValue& connection, char** error_out) {
  return find_connection_in(connections_file_path(), name, connection, error_out);
}

int find_connection_in(const std::string& path, const char* name, XmlRpcValue& connection,
                       char** error_out) {
  const char* wanted = text_or_empty(name);
  XmlRpcValue list;
  char* load_message = nullptr;
  const int loaded = load_connections_from(path, list, &load_message);
  // Any reason loading gave is replaced by the lookup's own message.
  free_string(load_message);
  if (loaded == 0) {
    for (XmlRpcValue& element : connections_of(list)) {
      // Exact bytes: no case folding, no trimming; a name is cut at a NUL as the host sees it.
      if (std::strcmp(element["name"].toText().c_str(), wanted) == 0) {
        connection = element;
        *error_out = nullptr;
        return 0;
      }
    }
  }
  *error_out = dup_cstring(kConnectionNotFound);
  return 1;
}

int32_t get_connection_list(ConnectionEntry*** list_out, int32_t* count_out,
                            char** error_out) {
  *error_out = nullptr;
  XmlRpcValue list;
  const int loaded = load_connections(list, error_out);
  if (loaded != 0) return loaded;

  XmlRpcValue::ValueArray& connections = connections_of(list);
  const uint32_t count = static_cast<uint32_t>(connections.size());
  OwnedConnectionList entries(new_connection_list(count), count);
  for (uint32_t i = 0; i < count; ++i) {
    entries[i]->name = value_to_cstring(connections[i]["name"]);
    entries[i]->flag = 1;
  }
  *list_out = entries.release();
  *count_out = static_cast<int32_t>(count);
  return 0;
}

}  // namespace bugzilla
