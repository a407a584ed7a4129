#include <XmlRpc/AsciiCase.h>
#include <XmlRpc/XmlRpcEndpoint.h>

#include <curl/curl.h>

#include <memory>

namespace XmlRpc {

namespace {

struct UrlRelease {
  void operator()(CURLU* url) const { curl_url_cleanup(url); }
};

// One part of a parsed URL; empty when the URL has none.
std::string url_part(CURLU* url, CURLUPart part) {
  char* text = nullptr;
  if (curl_url_get(url, part, &text, 0) != CURLUE_OK || text == nullptr) return "";
  std::string value(text);
  curl_free(text);
  return value;
}

}  // namespace

Endpoint makeEndpoint(const std::string& host_text, int port, const std::string& uri) {
  Endpoint endpoint;
  const size_t first = host_text.find_first_not_of(" \t");
  const size_t last = host_text.find_last_not_of(" \t");
  if (first == std::string::npos) return endpoint;
  std::string text = host_text.substr(first, last - first + 1);
  // A bare host means plain http (libcurl's own default would be https).
  if (text.find("://") == std::string::npos) text = "http://" + text;

  std::unique_ptr<CURLU, UrlRelease> url(curl_url());
  if (!url || curl_url_set(url.get(), CURLUPART_URL, text.c_str(), 0) !=
                  CURLUE_OK) {
    return endpoint;
  }
  const std::string scheme = asciiLowercase(url_part(url.get(), CURLUPART_SCHEME));
  if (scheme != "http" && scheme != "https") return endpoint;
  if (!url_part(url.get(), CURLUPART_USER).empty()) return endpoint;
  std::string host = url_part(url.get(), CURLUPART_HOST);
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
  }
  if (host.empty()) return endpoint;
  endpoint.https = scheme == "https";
  endpoint.host = asciiLowercase(host);

  const std::string url_port = url_part(url.get(), CURLUPART_PORT);
  endpoint.port = port > 0 ? port : !url_port.empty() ? std::stoi(url_port) : endpoint.https ? 443 : 80;

  std::string path = url_part(url.get(), CURLUPART_PATH);
  while (!path.empty() && path.back() == '/') path.pop_back();
  if (uri.empty() || uri[0] != '/') path += '/';
  path += uri;

  const bool ipv6 = endpoint.host.find(':') != std::string::npos;
  endpoint.url = endpoint.https ? "https://" : "http://";
  endpoint.url += ipv6 ? "[" + endpoint.host + "]" : endpoint.host;
  if (port > 0 || !url_port.empty()) endpoint.url += ':' + std::to_string(endpoint.port);
  endpoint.url += path;
  endpoint.path = path.substr(0, path.find_first_of("?#"));
  endpoint.valid = true;
  return endpoint;
}

}  // namespace XmlRpc
