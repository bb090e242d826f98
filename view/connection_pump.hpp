// The connections of `velmoran view`, from accept to close. One thread
// watches every open connection (poll), receives each request whole and
// reads it once (request_head.hpp) before any worker sees it; a request
// that has not arrived whole within the head deadline of its connection's
// opening, or of the previous answer on it, is dropped. Workers thus never
// wait for a client to send: idle and slow connections cost a file
// descriptor and a buffer each, no thread. Nor do they wait for a client to
// read: what a socket does not take at once is sent by the same thread as
// the client reads it, within the same deadline counted from the last
// progress, and the connection's next request waits until its answer has
// left. Requests for heavy work (XIC, map) have workers of their own, so
// cheap requests stay fast while extractions run.
//
// An answer's body is never copied for a slow reader: the connection keeps
// a reference to it. The bodies held so for all connections together are
// bounded (`max_held_bytes`, a body shared by several connections counted
// once): an answer that would pass the bound is replaced by 503, and heavy
// work does not start while the bound is reached.
//
// When connections run short (the limit below, or the process's file
// descriptors), a connection that has not been answered with access (one
// whose requests lacked the token, or that sent none yet) is closed to make
// room, the one that waited longest first; then an idle one that had
// access; never one that is sending an answer given with access. A
// newcomer is never refused for its address, since every client of a
// loopback server has the same one.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "request_head.hpp"

namespace velmoran::view {

struct PumpLimits {
  // A whole request (head and small body) by then, counted from the
  // connection's opening or from the end of the previous answer on it.
  std::chrono::milliseconds head_deadline{5000};
  RequestLimits request;
  // Open connections at most; 0 takes the process's file-descriptor limit
  // less a reserve for the run's files.
  std::size_t max_connections = 0;
  unsigned light_workers = 8;
  unsigned heavy_workers = 1;
  // Requests answered on one connection before it closes.
  std::size_t max_requests_per_connection = 100;
  // Bytes of answers kept for clients that have not read them yet.
  std::size_t max_held_bytes = std::size_t{256} << 20;
};

// One answer. The pump adds Content-Length, Connection and Keep-Alive, and
// sends no body to a HEAD request.
struct Response {
  int status = 200;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string_view body;
  // Keeps `body` alive while it is sent; null for bytes that live as long
  // as the program (the page's files).
  std::shared_ptr<const void> owner;
  // The request passed the access checks.
  bool authenticated = false;
};

struct PumpHandlers {
  // The answer to a request read whole.
  std::function<Response(const Request&)> answer;
  // An error answer with this status and reason (a request refused as it
  // was read, a deadline passed, the server too busy).
  std::function<Response(int status, std::string_view reason)> refuse;
};

class ConnectionPump {
 public:
  // Takes `listening_socket` (bound, listening) and serves it until stop().
  ConnectionPump(int listening_socket, const PumpLimits& limits, PumpHandlers handlers);
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
