// The two network checks doctor makes below XML-RPC: name resolution and a TCP connect.
#pragma once

#include <string>
#include <vector>

namespace host {

struct ResolvedAddress {
  int family = 0;
  std::string text;                 // numeric form, for the report
  std::vector<unsigned char> addr;  // the sockaddr as getaddrinfo gave it
};

// False with getaddrinfo's reason when the name does not resolve.
bool resolve_host(const std::string& host, int port, std::vector<ResolvedAddress>& addresses,
                  std::string& problem);

// Tries the addresses in order until one accepts within `timeout_seconds`. On success
// `reached` is the address that answered; otherwise `problem` says why the last one failed.
bool connect_tcp(const std::vector<ResolvedAddress>& addresses, int timeout_seconds,
                 std::string& reached, std::string& problem);

}  // namespace host
