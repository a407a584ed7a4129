#include "doctor/rest_probe.h"

#include "server_calls.h"

#include <XmlRpc/AsciiCase.h>
#include <XmlRpc/RestRequest.h>
#include <XmlRpc/XmlRpcClient.h>

#include <exception>
#include <memory>

namespace host {

namespace {

std::string without_trailing_slashes(std::string path) {
  while (!path.empty() && path.back() == '/') path.pop_back();
  return path;
}

// The version a client's GET /version answers, "" for anything else.
std::string rest_version(XmlRpc::XmlRpcClient& client) {
  XmlRpc::RestRequest request;
  request.path = {"version"};
  XmlRpc::XmlRpcValue reply;
  try {
    if (client.executeRest(request, reply) != XmlRpc::kExchangeCompleted) return "";
    const XmlRpc::XmlRpcValue* version = reply.find("version");
    if (version == nullptr || reply.hasMember("faultCode")) return "";
    return version->toText();
  } catch (const std::exception&) {  // a reply of odd kinds is no REST service either
    return "";
  }
}

}  // namespace

std::string web_directory_of(const std::string& path) {
  const std::string trimmed = without_trailing_slashes(path);
  const size_t slash = trimmed.rfind('/');
  return slash == std::string::npos ? "" : trimmed.substr(0, slash);
}

std::string last_segment_of(const std::string& path) {
  const std::string trimmed = without_trailing_slashes(path);
  // npos + 1 is 0: a path without a slash is its own last segment.
  return XmlRpc::asciiLowercase(trimmed.substr(trimmed.rfind('/') + 1));
}

std::optional<FoundRestService> find_rest_service(const XmlRpc::XmlRpcValue& connection,
                                                  const std::string& directory,
                                                  const std::string& already_tried) {
  for (const char* name : {"/rest", "/rest.cgi"}) {
    const std::string base = without_trailing_slashes(directory) + name;
    if (base == without_trailing_slashes(already_tried)) continue;
    XmlRpc::XmlRpcValue probe = connection;
    probe["web_service_extension"] = base;
    const std::unique_ptr<XmlRpc::XmlRpcClient> client = bugzilla::prepare_client(probe);
    std::string version = rest_version(*client);
    if (!version.empty()) {
      return FoundRestService{base, client->endpoint().url, std::move(version)};
    }
  }
  return std::nullopt;
}

}  // namespace host
