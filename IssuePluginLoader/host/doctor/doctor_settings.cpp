#include "doctor/doctor_settings.h"

#include <XmlRpc/XmlRpcValue.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <fstream>

namespace host {

namespace {

std::string text_member(const XmlRpc::XmlRpcValue& connection, const char* name) {
  const XmlRpc::XmlRpcValue* member = connection.find(name);
  if (member == nullptr) return "";
  try {
    return member->toText();
  } catch (const XmlRpc::XmlRpcException&) {
    return "";
  }
}

std::optional<int> int_member(const XmlRpc::XmlRpcValue& connection, const char* name) {
  const XmlRpc::XmlRpcValue* member = connection.find(name);
  if (member == nullptr || !member->valid()) return std::nullopt;
  const std::string text = text_member(connection, name);
  char* end = nullptr;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || value < 0 || value > INT_MAX) return std::nullopt;
  return static_cast<int>(value);
}

bool flag_member(const XmlRpc::XmlRpcValue& connection, const char* name, bool fallback) {
  const XmlRpc::XmlRpcValue* member = connection.find(name);
  if (member == nullptr || !member->valid()) return fallback;
  if (member->getType() == XmlRpc::XmlRpcValue::TypeBoolean) {
    XmlRpc::XmlRpcValue copy(*member);
    return copy.asBool();
  }
  std::string text = text_member(connection, name);
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return !(text == "false" || text == "no" || text == "off" || text == "0");
}

}  // namespace

bool read_connection_settings(const std::string& path, const std::string& name,
                              ConnectionSettings& settings, std::string& problem) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    problem = "cannot read " + path;
    return false;
  }
  // The lines joined with nothing between them, exactly as the plug-in hands them over.
  std::string joined, line;
  while (std::getline(file, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    joined += line;
  }
  XmlRpc::XmlRpcValue list;
  try {
    if (list.connectionList(joined) != 0 || list.getType() != XmlRpc::XmlRpcValue::TypeArray) {
      problem = path + " does not parse";
      return false;
    }
    for (int i = 0; i < list.size(); ++i) {
      const XmlRpc::XmlRpcValue* connection = list.at(i);
      if (connection == nullptr || text_member(*connection, "name") != name) continue;
      settings.name = name;
      settings.server_url = text_member(*connection, "server_url");
      settings.port = int_member(*connection, "port").value_or(0);
      settings.uri = text_member(*connection, "web_service_extension");
      settings.product = text_member(*connection, "product");
      settings.connect_timeout_seconds = int_member(*connection, "connect_timeout_seconds");
      settings.timeout_seconds = int_member(*connection, "timeout_seconds");
      settings.max_response_mb = int_member(*connection, "max_response_mb");
      settings.ca_file = text_member(*connection, "ca_file");
      settings.verify_tls = flag_member(*connection, "verify_tls", true);
      return true;
    }
  } catch (const XmlRpc::XmlRpcException& error) {
    problem = path + ": " + error.what();
    return false;
  }
  problem = "no connection named \"" + name + "\" in " + path;
  return false;
}

Endpoint endpoint_of(const ConnectionSettings& settings) {
  Endpoint endpoint;
  std::string rest = settings.server_url;
  const auto starts_with = [&](const char* prefix) {
    const size_t n = std::char_traits<char>::length(prefix);
    if (rest.size() < n) return false;
    for (size_t i = 0; i < n; ++i) {
      if (std::tolower(static_cast<unsigned char>(rest[i])) != prefix[i]) return false;
    }
    return true;
  };
  if (starts_with("https://")) {
    endpoint.https = true;
    rest = rest.substr(8);
  } else if (starts_with("http://")) {
    rest = rest.substr(7);
  }
  const std::string authority = rest.substr(0, rest.find('/'));
  int url_port = 0;
  if (!authority.empty() && authority[0] == '[') {
    const size_t close = authority.find(']');
    endpoint.host = authority.substr(1, close == std::string::npos ? std::string::npos : close - 1);
    if (close != std::string::npos && close + 1 < authority.size() && authority[close + 1] == ':') {
      url_port = std::atoi(authority.c_str() + close + 2);
    }
  } else {
    const size_t colon = authority.find(':');
    endpoint.host = authority.substr(0, colon);
    if (colon != std::string::npos) url_port = std::atoi(authority.c_str() + colon + 1);
  }
  endpoint.port = settings.port > 0 ? settings.port
                  : url_port > 0    ? url_port
                  : endpoint.https  ? 443
                                    : 80;
  const bool v6 = endpoint.host.find(':') != std::string::npos;
  endpoint.url = std::string(endpoint.https ? "https://" : "http://") + (v6 ? "[" : "") +
                 endpoint.host + (v6 ? "]" : "") + ":" + std::to_string(endpoint.port) +
                 (settings.uri.empty() || settings.uri[0] != '/' ? "/" : "") + settings.uri;
  return endpoint;
}

void configure_client(XmlRpc::XmlRpcClient& client, const ConnectionSettings& settings,
                      const std::string& cookie_file) {
  client.setCookieFilePath(cookie_file);
  if (settings.connect_timeout_seconds) client.setConnectTimeout(*settings.connect_timeout_seconds);
  if (settings.timeout_seconds) client.setIdleTimeout(*settings.timeout_seconds);
  if (settings.max_response_mb) {
    client.setMaxResponseBytes(static_cast<size_t>(*settings.max_response_mb) << 20);
  }
  if (!settings.ca_file.empty()) client.setCaFile(settings.ca_file);
  client.setVerifyTls(settings.verify_tls);
}

}  // namespace host
