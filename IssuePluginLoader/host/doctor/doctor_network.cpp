#include "doctor/doctor_network.h"

#if defined(_WIN32)
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <cstring>

namespace host {

#if defined(_WIN32)
namespace {

// Winsock wants starting once per process; it stays up until the process ends.
bool sockets_ready(std::string& problem) {
  static const int started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data);
  }();
  if (started != 0) problem = "Winsock did not start (error " + std::to_string(started) + ")";
  return started == 0;
}

std::string socket_error_text(int code) {
  char* text = nullptr;
  FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                     FORMAT_MESSAGE_IGNORE_INSERTS,
                 nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<LPSTR>(&text), 0, nullptr);
  std::string reason = text != nullptr ? text : "error " + std::to_string(code);
  if (text != nullptr) LocalFree(text);
  while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' ||
                             reason.back() == '.')) {
    reason.pop_back();
  }
  return reason;
}

}  // namespace
#endif

bool resolve_host(const std::string& host, int port, std::vector<ResolvedAddress>& addresses,
                  std::string& problem) {
#if defined(_WIN32)
  if (!sockets_ready(problem)) return false;
#endif
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
#if defined(_WIN32)
bool connect_one(const ResolvedAddress& address, int timeout_seconds, std::string& problem) {
  const SOCKET fd = socket(address.family, SOCK_STREAM, IPPROTO_TCP);
  if (fd == INVALID_SOCKET) {
    problem = socket_error_text(WSAGetLastError());
    return false;
  }
  u_long non_blocking = 1;
  ioctlsocket(fd, FIONBIO, &non_blocking);
  const auto* target = reinterpret_cast<const struct sockaddr*>(address.addr.data());
  int error = 0;
  if (connect(fd, target, static_cast<int>(address.addr.size())) != 0) {
    error = WSAGetLastError();
    if (error == WSAEWOULDBLOCK) {
      fd_set writable, failed;
      FD_ZERO(&writable);
      FD_ZERO(&failed);
      FD_SET(fd, &writable);
      FD_SET(fd, &failed);
      timeval wait{timeout_seconds, 0};
      const int ready = select(0, nullptr, &writable, &failed, &wait);
      if (ready == 0) {
        closesocket(fd);
        problem = "no answer within " + std::to_string(timeout_seconds) + " seconds";
        return false;
      }
      int length = sizeof error;
      error = 0;
      if (ready == SOCKET_ERROR) {
        error = WSAGetLastError();
      } else if (FD_ISSET(fd, &failed) &&
                 getsockopt(fd, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) !=
                     0) {
        error = WSAGetLastError();
      }
    }
  }
  closesocket(fd);
  if (error != 0) {
    problem = socket_error_text(error);
    return false;
  }
  return true;
}
#else
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

#endif

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
