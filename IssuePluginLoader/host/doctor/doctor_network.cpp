#include "doctor/doctor_network.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace host {

bool resolve_host(const std::string& host, int port, std::vector<ResolvedAddress>& addresses,
                  std::string& problem) {
  struct addrinfo hints {};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  struct addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  const int code = getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
  if (code != 0) {
    problem = gai_strerror(code);
    return false;
  }
  for (const struct addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
    ResolvedAddress address;
    address.family = entry->ai_family;
    char text[NI_MAXHOST] = "";
    getnameinfo(entry->ai_addr, entry->ai_addrlen, text, sizeof text, nullptr, 0, NI_NUMERICHOST);
    address.text = text;
    const auto* bytes = reinterpret_cast<const unsigned char*>(entry->ai_addr);
    address.addr.assign(bytes, bytes + entry->ai_addrlen);
    addresses.push_back(std::move(address));
  }
  freeaddrinfo(found);
  if (addresses.empty()) {
    problem = "the name has no address";
    return false;
  }
  return true;
}

namespace {

// One non-blocking connect bounded by the timeout; false with the reason.
bool connect_one(const ResolvedAddress& address, int timeout_seconds, std::string& problem) {
  const int fd = socket(address.family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) {
    problem = std::strerror(errno);
    return false;
  }
  const auto* target = reinterpret_cast<const struct sockaddr*>(address.addr.data());
  int error = 0;
  if (connect(fd, target, static_cast<socklen_t>(address.addr.size())) != 0) {
    error = errno;
    if (error == EINPROGRESS) {
      struct pollfd wait {};
      wait.fd = fd;
      wait.events = POLLOUT;
      int ready;
      do {
        ready = poll(&wait, 1, timeout_seconds * 1000);
      } while (ready < 0 && errno == EINTR);
      if (ready == 0) {
        close(fd);
        problem = "no answer within " + std::to_string(timeout_seconds) + " seconds";
        return false;
      }
      socklen_t length = sizeof error;
      if (ready < 0) {
        error = errno;
      } else if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
        error = errno;
      }
    }
  }
  close(fd);
  if (error != 0) {
    problem = std::strerror(error);
    return false;
  }
  return true;
}

}  // namespace

bool connect_tcp(const std::vector<ResolvedAddress>& addresses, int timeout_seconds,
                 std::string& reached, std::string& problem) {
  for (const auto& address : addresses) {
    std::string why;
    if (connect_one(address, timeout_seconds, why)) {
      reached = address.text;
      return true;
    }
    problem = address.text + ": " + why;
  }
  return false;
}

}  // namespace host
