#include "request_stream.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace velmoran::view {

namespace {

// Sends are collected up to this size, so that a head and a small body
// leave in one segment.
constexpr std::size_t kCollect = 64 * 1024;

void address_of(const sockaddr_storage& address, std::string& ip, int& port) {
  char text[INET6_ADDRSTRLEN] = {};
  if (address.ss_family == AF_INET6) {
    sockaddr_in6 in6{};
    std::memcpy(&in6, &address, sizeof in6);
    ::inet_ntop(AF_INET6, &in6.sin6_addr, text, sizeof text);
    port = ntohs(in6.sin6_port);
  } else if (address.ss_family == AF_INET) {
    sockaddr_in in4{};
    std::memcpy(&in4, &address, sizeof in4);
    ::inet_ntop(AF_INET, &in4.sin_addr, text, sizeof text);
    port = ntohs(in4.sin_port);
  }
  ip = text;
}

}  // namespace

ssize_t RequestStream::read(char* ptr, size_t size) {
  const std::size_t count = std::min(size, request_.size() - read_);
  std::memcpy(ptr, request_.data() + read_, count);
  read_ += count;
  return static_cast<ssize_t>(count);
}

ssize_t RequestStream::write(const char* ptr, size_t size) {
  if (failed_) return -1;
  if (pending_.size() + size > kCollect) {
    if (!flush()) return -1;
    // A large piece (a body) goes out from where it is, without a copy
    // unless the socket does not take it all.
    if (size > kCollect) {
      send_or_keep(ptr, size);
      return failed_ ? -1 : static_cast<ssize_t>(size);
    }
  }
  pending_.append(ptr, size);
  return static_cast<ssize_t>(size);
}

bool RequestStream::flush() {
  if (!failed_) send_or_keep(pending_.data(), pending_.size());
  pending_.clear();
  return !failed_;
}

void RequestStream::send_or_keep(const char* data, std::size_t size) {
  // Behind bytes already kept, nothing may overtake them.
  while (size > 0 && unsent_.empty()) {
    const ssize_t sent = ::send(socket_, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent > 0) {
      data += sent;
      size -= static_cast<std::size_t>(sent);
    } else if (sent < 0 && errno == EINTR) {
      continue;
    } else if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      break;
    } else {
      failed_ = true;
      return;
    }
  }
  unsent_.append(data, size);
}

void RequestStream::get_remote_ip_and_port(std::string& ip, int& port) const {
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  if (::getpeername(socket_, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    address_of(address, ip, port);
  }
}

void RequestStream::get_local_ip_and_port(std::string& ip, int& port) const {
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  if (::getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    address_of(address, ip, port);
  }
}

}  // namespace velmoran::view
