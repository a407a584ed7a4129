// Small builders for the plug-in tests: XML-RPC values written inline, a host request
// context over owned texts, and the parameters the test server received for a method.
#pragma once

#include <XmlRpc/XmlRpcValue.h>

#include <cstddef>
#include <initializer_list>
#include <string>
#include <utility>

#include "issue_plugin_api.h"
#include "test_server.h"

#if defined(__SANITIZE_ADDRESS__)
// From the sanitizer runtime (GCC ships no header for it): the size a block was allocated with.
extern "C" size_t __sanitizer_get_allocated_size(const volatile void* pointer);
#endif

namespace test_support {

XmlRpc::XmlRpcValue make_struct(
    std::initializer_list<std::pair<const char*, XmlRpc::XmlRpcValue>> members);
XmlRpc::XmlRpcValue make_array(std::initializer_list<XmlRpc::XmlRpcValue> elements);

// The arguments of the test server's "fault" injection.
XmlRpc::XmlRpcValue fault_args(const XmlRpc::XmlRpcValue& code, const std::string& text);

// A RequestContext whose texts live as long as it does.
struct HostContext {
  HostContext(std::string login, std::string password, std::string connection);
  HostContext(const HostContext&) = delete;
  HostContext& operator=(const HostContext&) = delete;
  std::string login, password, connection;
  RequestContext context{};
};

// The parameters of the one request of `method` the server recorded (a test failure when
// there is not exactly one).
XmlRpc::XmlRpcValue params_of(TestServer& server, const std::string& method);

}  // namespace test_support
