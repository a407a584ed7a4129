#include "endpoint.h"

namespace XmlRpc {
namespace detail {

namespace {

bool starts_with_no_case(const std::string& text, const char* prefix) {
  size_t i = 0;
  for (; prefix[i] != '\0'; ++i) {
    if (i >= text.size()) return false;
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != prefix[i]) return false;
  }
  return true;
}

bool all_digits(const std::string& text) {
  if (text.empty() || text.size() > 5) return false;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

}  // namespace

Endpoint make_endpoint(const std::string& host_text, int port, const std::string& uri) {
  Endpoint endpoint;
  const size_t first = host_text.find_first_not_of(" \t");
  const size_t last = host_text.find_last_not_of(" \t");
  std::string rest = first == std::string::npos ? std::string()
                                                : host_text.substr(first, last - first + 1);
  if (starts_with_no_case(rest, "https://")) {
    endpoint.https = true;
    rest.erase(0, 8);
  } else if (starts_with_no_case(rest, "http://")) {
    rest.erase(0, 7);
  } else if (rest.find("://") != std::string::npos) {
    return endpoint;  // another scheme
  }

  const size_t authority_end = rest.find_first_of("/?#");
  std::string authority = rest.substr(0, authority_end);
  std::string base_path = authority_end == std::string::npos ? std::string()
                                                             : rest.substr(authority_end);
  if (authority.empty() || authority.find('@') != std::string::npos) return endpoint;

  std::string host;
  std::string text_port;
  if (authority[0] == '[') {
    const size_t close = authority.find(']');
    if (close == std::string::npos) return endpoint;
    host = authority.substr(1, close - 1);
    if (close + 1 < authority.size()) {
      if (authority[close + 1] != ':') return endpoint;
      text_port = authority.substr(close + 2);
    }
  } else {
    const size_t colon = authority.find(':');
    host = authority.substr(0, colon);
    if (colon != std::string::npos) text_port = authority.substr(colon + 1);
  }
  if (host.empty() || (!text_port.empty() && !all_digits(text_port))) return endpoint;
  for (char& c : host) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }

  while (!base_path.empty() && base_path.back() == '/') base_path.pop_back();
  std::string path = base_path;
  if (uri.empty() || uri[0] != '/') path += '/';
  path += uri;

  const bool ipv6 = host.find(':') != std::string::npos;
  endpoint.url = endpoint.https ? "https://" : "http://";
  endpoint.url += ipv6 ? "[" + host + "]" : host;
  if (port > 0) {
    endpoint.url += ':' + std::to_string(port);
  } else if (!text_port.empty()) {
    endpoint.url += ':' + text_port;
  }
  endpoint.url += path;
  endpoint.host = host;
  endpoint.path = path.substr(0, path.find_first_of("?#"));
  endpoint.valid = true;
  return endpoint;
}

}  // namespace detail
}  // namespace XmlRpc
