// Arbitrary text as the connections file: both readers answer with one of their documented
// codes and leave the value in the shape that code promises; they agree on whether the text
// parsed at all.
#include "fuzz_check.h"

#include <XmlRpc/XmlRpcValue.h>

#include <cstddef>
#include <cstdint>
#include <string>

using XmlRpc::XmlRpcValue;

namespace {

bool has_fault_text(const XmlRpcValue& entry) {
  const XmlRpcValue* fault = entry.find("fault");
  return fault && fault->getType() == XmlRpcValue::TypeString && !fault->stringValue().empty();
}

// Codes that come from the parse as a whole, not from one section's content.
bool is_whole_file_code(int code) {
  return code == XmlRpcValue::kConnectionsNoRoot || code == XmlRpcValue::kConnectionsBrokenXml ||
         code == XmlRpcValue::kConnectionsRefused;
}

void check_connection_list(const XmlRpcValue& list, int code) {
  FUZZ_CHECK(code >= XmlRpcValue::kConnectionsOk && code <= XmlRpcValue::kConnectionsRefused);
  if (code == XmlRpcValue::kConnectionsNoRoot) {
    FUZZ_CHECK(!list.valid());
    return;
  }
  FUZZ_CHECK(list.getType() == XmlRpcValue::TypeArray);
  int faults = 0;
  for (const XmlRpcValue& entry : list.arrayValue()) {
    FUZZ_CHECK(entry.getType() == XmlRpcValue::TypeStruct);
    faults += entry.hasMember("fault") ? 1 : 0;
    if (entry.hasMember("fault")) FUZZ_CHECK(has_fault_text(entry));
  }
  if (code == XmlRpcValue::kConnectionsOk) FUZZ_CHECK(faults == 0);
  if (code == XmlRpcValue::kConnectionsBrokenXml || code == XmlRpcValue::kConnectionsRefused) {
    FUZZ_CHECK(list.size() > 0 && has_fault_text(*list.at(list.size() - 1)));
  }
}

void check_server_info(const XmlRpcValue& server, int code) {
  FUZZ_CHECK(code >= XmlRpcValue::kConnectionsOk &&
             code <= XmlRpcValue::kConnectionsNoServerSection);
  FUZZ_CHECK(server.getType() == XmlRpcValue::TypeStruct);
  if (code != XmlRpcValue::kConnectionsOk) {
    FUZZ_CHECK(has_fault_text(server));
    return;
  }
  FUZZ_CHECK(!server.hasMember("fault"));
  const XmlRpcValue* address = server.find("ip_address");
  FUZZ_CHECK(address && address->getType() == XmlRpcValue::TypeString);
  if (const XmlRpcValue* port = server.find("port")) {
    FUZZ_CHECK(port->getType() == XmlRpcValue::TypeInt);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);

  XmlRpcValue list;
  const int list_code = list.connectionList(text);
  check_connection_list(list, list_code);

  XmlRpcValue server;
  const int server_code = server.serverInfo(text);
  check_server_info(server, server_code);

  if (is_whole_file_code(list_code) || is_whole_file_code(server_code)) {
    FUZZ_CHECK(list_code == server_code);
  }

  // The readers start afresh: a value that held something before reads the same.
  XmlRpcValue reused = list;
  FUZZ_CHECK(reused.connectionList(text) == list_code && reused == list);
  return 0;
}
