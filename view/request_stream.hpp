// The HTTP library's view of one connection while a worker answers one
// request: reads come from the request's bytes, already received whole
// (a read past them is the end of the stream, never a wait for the
// client), and writes go to the socket, collected into large sends. A
// worker never waits for a client either: what the socket does not take at
// once is kept in `unsent`, which the pump's own thread sends as the client
// reads (connection_pump.hpp).
#pragma once

#include <string>
#include <string_view>

#include <httplib.h>

namespace velmoran::view {

class RequestStream final : public httplib::Stream {
 public:
  RequestStream(int socket, std::string_view request, std::string& unsent)
      : socket_(socket), request_(request), unsent_(unsent) {}

  bool is_readable() const override { return read_ < request_.size(); }
  bool is_writable() const override { return !failed_; }
  ssize_t read(char* ptr, size_t size) override;
  ssize_t write(const char* ptr, size_t size) override;
  void get_remote_ip_and_port(std::string& ip, int& port) const override;
  void get_local_ip_and_port(std::string& ip, int& port) const override;
  socket_t socket() const override { return socket_; }

  // Sends what is still collected (the rest into `unsent`); false when the
  // connection failed.
  [[nodiscard]] bool flush();

 private:
  // Sends what the socket takes now, the rest appended to `unsent`.
  void send_or_keep(const char* data, std::size_t size);

  int socket_;
  std::string_view request_;
  std::string& unsent_;
  std::size_t read_ = 0;
  std::string pending_;
  bool failed_ = false;
};

}  // namespace velmoran::view
