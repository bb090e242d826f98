// What the server reads of a request before a worker thread answers it:
// where the request's bytes end, whether it is heavy work, and whether the
// connection must close after it. Requests are received whole by one
// thread that never blocks on a client (connection_pump.hpp), so a worker
// only ever parses bytes that are already in memory.
#pragma once

#include <cstddef>
#include <string>

namespace velmoran::view {

struct RequestHead {
  enum class State {
    incomplete,  // more bytes needed
    complete,    // the first `size` bytes are one request
    too_large,   // no end of the head within the limit
  };
  State state = State::incomplete;
  // The bytes of the head and of the body the head announces.
  std::size_t size = 0;
  // The path is a heavy route of run_routes.hpp (an XIC), which reads the
  // run's spectra.
  bool heavy = false;
  // A body (Content-Length or Transfer-Encoding) that this GET-only server
  // does not read: the connection closes after the answer, so that no part
  // of it is taken for a next request.
  bool close_after = false;
};

// Looks at the bytes received on a connection, a request at their start.
// The head ends at its first empty line (CRLF), as the HTTP library reads
// it; a head longer than `max_head` is too_large. A body announced by a
// Content-Length of at most `max_body` belongs to the request; any other
// body is left to the library to refuse. On `complete`, every Range header
// has been removed from `bytes` (and `size` counts without it): ranges are
// not served, every answer is the whole body.
[[nodiscard]] RequestHead examine_request(std::string& bytes, std::size_t max_head,
                                          std::size_t max_body);

}  // namespace velmoran::view
