// The URL of a REST call, made with libcurl's URL API: the client's endpoint as the base, the
// request's path segments and query escaped below it.
#pragma once

#include <XmlRpc/RestRequest.h>
#include <XmlRpc/XmlRpcEndpoint.h>

#include <string>

namespace XmlRpc {
namespace detail {

struct RestUrl {
  std::string url;
  std::string target;  // what the request line names: the path and the query
  std::string query;   // escaped, without "?": never to be shown (it may hold credentials)
};

// False with a reason (naming no value) when the request cannot be made.
bool make_rest_url(const Endpoint& endpoint, const RestRequest& request, RestUrl& out,
                   std::string& error);

// Header lines "Name: value" for the request's headers; false when a name is not an HTTP
// token or a value holds a line break or NUL (it would add headers of its own).
bool make_rest_headers(const RestRequest& request, std::vector<std::string>& lines,
                       std::string& error);

}  // namespace detail
}  // namespace XmlRpc
