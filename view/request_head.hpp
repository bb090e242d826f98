// The one reading of a request by `velmoran view`: the bytes a connection
// received become a Request (method, decoded path, query pairs, the headers
// the server acts on) or a refusal with its status. The connection pump
// (connection_pump.hpp) calls it once per request, on bytes already in
// memory; workers and routes take the Request it made and read nothing else.
//
// Only what this GET-only server needs is accepted: HTTP/1.0 or 1.1, an
// origin-form target ("/path?query"), header lines "Name: value" ending in
// CRLF or LF, and no body but a small one announced by one Content-Length.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include <velmoran/view/run_api.hpp>

namespace velmoran::view {

struct Request {
  std::string method;  // "GET", "HEAD", ... as sent (methods are case-sensitive)
  // The path, %XX decoded once (an escape that is not two hex digits, or
  // one that decodes to a control character, refuses the request).
  std::string path;
  // The query's pairs in order, repeats kept, '+' and %XX decoded.
  QueryParams query;
  std::size_t host_count = 0;  // Host headers sent
  std::string host;            // the first one's value
  std::string token;           // the X-Velmoran-Token header, if any
  std::string cookies;         // every Cookie header, joined by "; "
  // The connection closes after the answer: "Connection: close", HTTP/1.0
  // without keep-alive, or a body (never read as a next request).
  bool close = false;
  // The path is a heavy route of run_routes.hpp (an XIC, a map).
  bool heavy = false;
};

struct RequestLimits {
  std::size_t max_head_bytes = 16 * 1024;
  std::size_t max_line_bytes = 8 * 1024;  // one header line
  std::size_t max_body_bytes = 4096;
};

struct ParsedRequest {
  enum class State {
    incomplete,  // more bytes needed
    complete,    // the first `size` bytes are `request`
    refused,     // answered with `status` and `reason`, then the connection closes
  };
  State state = State::incomplete;
  std::size_t size = 0;  // head and body
  Request request;
  int status = 0;
  std::string reason;
};

// Header texts compare without case (ASCII).
[[nodiscard]] bool equal_ignoring_case(std::string_view a, std::string_view b) noexcept;

// Whether an item of a list separated by `separator` ("a, b", "x=1; y=2"),
// spaces and tabs around each item removed, passes `test`.
template <class Test>
bool any_item(std::string_view list, char separator, Test&& test) {
  while (!list.empty()) {
    const auto end = list.find(separator);
    std::string_view item = list.substr(0, end);
    list = end == std::string_view::npos ? std::string_view{} : list.substr(end + 1);
    const auto first = item.find_first_not_of(" \t");
    if (first == std::string_view::npos) continue;
    item = item.substr(first, item.find_last_not_of(" \t") - first + 1);
    if (test(item)) return true;
  }
  return false;
}

// Where the head at the start of `bytes` ends (just past its empty line),
// looking from `from` on; npos when it has not arrived.
[[nodiscard]] std::size_t head_end(std::string_view bytes, std::size_t from = 0) noexcept;

// Reads the request at the start of `bytes`.
[[nodiscard]] ParsedRequest parse_request(std::string_view bytes, const RequestLimits& limits);

}  // namespace velmoran::view
