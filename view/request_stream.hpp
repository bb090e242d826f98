// The HTTP library's view of one connection while a worker answers one
// request: reads come from the request's bytes, already received whole
// (a read past them is the end of the stream, never a wait for the
// client), and writes go to the socket, collected into large sends.
#pragma once

#include <string>
#include <string_view>

#include <httplib.h>

namespace velmoran::view {

class RequestStream final : public httplib::Stream {
 public:
  // A send that makes no progress for this long fails the answer.
  static constexpr int kSendTimeoutMs = 5000;

  RequestStream(int socket, std::string_view request) : socket_(socket), request_(request) {}

  bool is_readable() const override { return read_ < request_.size(); }
  bool is_writable() const override { return !failed_; }
  ssize_t read(char* ptr, size_t size) override;
  ssize_t write(const char* ptr, size_t size) override;
  void get_remote_ip_and_port(std::string& ip, int& port) const override;
  void get_local_ip_and_port(std::string& ip, int& port) const override;
  socket_t socket() const override { return socket_; }

  // Sends what is still collected; false when a send failed.
  [[nodiscard]] bool flush();

 private:
  [[nodiscard]] bool send_all(const char* data, std::size_t size);

  int socket_;
  std::string_view request_;
  std::size_t read_ = 0;
  std::string pending_;
  bool failed_ = false;
};

}  // namespace velmoran::view
