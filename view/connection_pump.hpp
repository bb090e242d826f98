// The connections of `velmoran view`, from accept to close. One thread
// watches every open connection (poll) and receives each request whole
// before any worker sees it; a request that has not arrived whole within
// the head deadline of its connection's opening, or of the previous
// answer on it, is dropped. Workers thus never wait for a client to send:
// idle and slow connections cost a file descriptor and a buffer each, no
// thread. Nor do they wait for a client to read: what a socket does not
// take at once is sent by the same thread as the client reads it, within
// the same deadline counted from the last progress, and the connection's
// next request waits until its answer has left. Requests for heavy work
// (XIC) have workers of their own, so cheap requests stay fast while
// extractions run.
//
// When connections run short (the limit below, or the process's file
// descriptors), the connection that has waited longest without sending a
// whole request is closed to make room: a newcomer is never refused for
// its address, since every client of a loopback server has the same one.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace velmoran::view {

struct PumpLimits {
  // A whole request (head and small body) by then, counted from the
  // connection's opening or from the end of the previous answer on it.
  std::chrono::milliseconds head_deadline{5000};
  std::size_t max_head_bytes = 16 * 1024;
  std::size_t max_body_bytes = 4096;
  // Open connections at most; 0 takes the process's file-descriptor limit
  // less a reserve for the run's files.
  std::size_t max_connections = 0;
  unsigned light_workers = 8;
  unsigned heavy_workers = 1;
  // Requests answered on one connection before it closes.
  std::size_t max_requests_per_connection = 100;
};

// Answers one request. `request` is its bytes (head and body); `close`
// says that the answer is the connection's last. Sends without waiting:
// what the socket does not take is appended to `unsent`. Returns whether
// the connection may carry another request.
using AnswerRequest =
    std::function<bool(int socket, std::string_view request, bool close, std::string& unsent)>;

class ConnectionPump {
 public:
  // Takes `listening_socket` (bound, listening) and serves it until stop().
  ConnectionPump(int listening_socket, const PumpLimits& limits, AnswerRequest answer);
  ConnectionPump(const ConnectionPump&) = delete;
  ConnectionPump& operator=(const ConnectionPump&) = delete;
  ~ConnectionPump();

  // Stops accepting, closes the waiting connections, lets the workers end
  // the requests they are answering and joins every thread.
  void stop();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace velmoran::view
