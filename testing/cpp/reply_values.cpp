#include "reply_values.h"

#include <gtest/gtest.h>

namespace test_support {

using XmlRpc::XmlRpcValue;

XmlRpcValue make_struct(std::initializer_list<std::pair<const char*, XmlRpcValue>> members) {
  XmlRpcValue value;
  value.assertStruct();
  for (const auto& member : members) value[member.first] = member.second;
  return value;
}

XmlRpcValue make_array(std::initializer_list<XmlRpcValue> elements) {
  XmlRpcValue value;
  value.assertArray(0);
  int i = 0;
  for (const XmlRpcValue& element : elements) value[i++] = element;
  return value;
}

XmlRpcValue fault_args(const XmlRpcValue& code, const std::string& text) {
  return make_struct({{"code", code}, {"string", text}});
}

HostContext::HostContext(std::string login, std::string password, std::string connection)
    : login(std::move(login)), password(std::move(password)), connection(std::move(connection)) {
  context.login = &this->login[0];
  context.password = &this->password[0];
  context.connection_name = &this->connection[0];
}

XmlRpcValue params_of(TestServer& server, const std::string& method) {
  XmlRpcValue requests = server.requests();
  XmlRpcValue found;
  int seen = 0;
  for (int i = 0; i < requests.size(); ++i) {
    if (requests[i]["method"].toText() == method) {
      found = requests[i]["params"];
      ++seen;
    }
  }
  EXPECT_EQ(seen, 1) << method;
  return found;
}

}  // namespace test_support
