#include "rest_url.h"

#include <curl/curl.h>

#include <memory>

namespace XmlRpc {
namespace detail {

namespace {

struct UrlRelease {
  void operator()(CURLU* url) const { curl_url_cleanup(url); }
};

struct TextRelease {
  void operator()(char* text) const { curl_free(text); }
};

std::string url_part(CURLU* url, CURLUPart part) {
  char* text = nullptr;
  if (curl_url_get(url, part, &text, 0) != CURLUE_OK || text == nullptr) return "";
  std::unique_ptr<char, TextRelease> owned(text);
  return std::string(text);
}

bool is_token_char(unsigned char c) {
  if (c >= '0' && c <= '9') return true;
  if ((c | 0x20) >= 'a' && (c | 0x20) <= 'z') return true;
  for (const char* p = "!#$%&'*+-.^_`|~"; *p; ++p) {
    if (c == static_cast<unsigned char>(*p)) return true;
  }
  return false;
}

}  // namespace

bool make_rest_url(const Endpoint& endpoint, const RestRequest& request, RestUrl& out,
                   std::string& error) {
  if (!endpoint.valid) {
    error = "the host is not an http or https address";
    return false;
  }
  std::unique_ptr<CURLU, UrlRelease> url(curl_url());
  CURL* escaper = curl_easy_init();  // curl_easy_escape wants a handle; it uses none of it
  std::unique_ptr<CURL, void (*)(CURL*)> escaper_owner(escaper, curl_easy_cleanup);
  if (!url || !escaper || curl_url_set(url.get(), CURLUPART_URL, endpoint.url.c_str(), 0) != CURLUE_OK) {
    error = "the service address could not be read";
    return false;
  }
  std::string path = endpoint.path;
  while (!path.empty() && path.back() == '/') path.pop_back();
  for (const std::string& segment : request.path) {
    // Dot segments would be resolved away by the server, reaching another resource.
    if (segment.empty() || segment == "." || segment == "..") {
      error = "an empty, \".\" or \"..\" path segment";
      return false;
    }
    char* escaped = curl_easy_escape(escaper, segment.data(), static_cast<int>(segment.size()));
    if (!escaped) {
      error = "a path segment could not be escaped";
      return false;
    }
    std::unique_ptr<char, TextRelease> owned(escaped);
    path += '/';
    path += escaped;
  }
  if (path.empty()) path = "/";
  if (curl_url_set(url.get(), CURLUPART_PATH, path.c_str(), 0) != CURLUE_OK ||
      curl_url_set(url.get(), CURLUPART_QUERY, nullptr, 0) != CURLUE_OK ||
      curl_url_set(url.get(), CURLUPART_FRAGMENT, nullptr, 0) != CURLUE_OK) {
    error = "the path could not be set";
    return false;
  }
  // Each pair is escaped on a handle of its own and the query joined here: appending to the
  // request's handle would copy the whole query again for every pair, and a listing's
  // comments requests carry hundreds of ids.
  std::unique_ptr<CURLU, UrlRelease> pair_url(curl_url());
  std::string query;
  for (const auto& parameter : request.query) {
    // libcurl keeps the first '=' of a pair and escapes the rest.
    if (parameter.first.empty() || parameter.first.find('=') != std::string::npos) {
      error = "a query parameter's name is empty or holds '='";
      return false;
    }
    if (!query.empty()) query += '&';
    const std::string pair = parameter.first + "=" + parameter.second;
    if (isUnreservedText(parameter.first) && isUnreservedText(parameter.second)) {
      query += pair;  // what escaping would give: the ids of a long request, for one
      continue;
    }
    if (!pair_url || curl_url_set(pair_url.get(), CURLUPART_QUERY, nullptr, 0) != CURLUE_OK ||
        curl_url_set(pair_url.get(), CURLUPART_QUERY, pair.c_str(),
                     CURLU_APPENDQUERY | CURLU_URLENCODE) != CURLUE_OK) {
      error = "a query parameter could not be escaped";
      return false;
    }
    query += url_part(pair_url.get(), CURLUPART_QUERY);
  }
  if (!query.empty() && curl_url_set(url.get(), CURLUPART_QUERY, query.c_str(), 0) != CURLUE_OK) {
    error = "the query could not be set";
    return false;
  }
  out.url = url_part(url.get(), CURLUPART_URL);
  out.query = url_part(url.get(), CURLUPART_QUERY);
  out.target = url_part(url.get(), CURLUPART_PATH);
  if (!out.query.empty()) out.target += "?" + out.query;
  if (out.url.empty() || out.target.empty()) {
    error = "the URL could not be made";
    return false;
  }
  return true;
}

bool make_rest_headers(const RestRequest& request, std::vector<std::string>& lines,
                       std::string& error) {
  lines.clear();
  for (const auto& header : request.headers) {
    bool usable = !header.first.empty();
    for (const char c : header.first) usable = usable && is_token_char(static_cast<unsigned char>(c));
    for (const char c : header.second) usable = usable && c != '\r' && c != '\n' && c != '\0';
    if (!usable) {
      error = "a request header's name or value is not allowed";
      return false;
    }
    lines.push_back(header.first + ": " + header.second);
  }
  return true;
}

}  // namespace detail
}  // namespace XmlRpc
