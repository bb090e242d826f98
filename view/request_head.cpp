#include "request_head.hpp"

#include <algorithm>
#include <charconv>

#include "run_routes.hpp"

namespace velmoran::view {

namespace {

bool control(char c) noexcept { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }

// A header name or a method: letters, digits and the few marks HTTP allows.
bool token_text(std::string_view text) noexcept {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
  });
}

int hex_digit(char c) noexcept {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The path with every %XX decoded, once; false when an escape is not two
// hex digits ("%u0061", "%4") or decodes to a control character.
bool decode_path(std::string_view raw, std::string& path) {
  path.reserve(raw.size());
  for (std::size_t i = 0; i < raw.size(); ++i) {
    char c = raw[i];
    if (c == '%') {
      if (i + 2 >= raw.size() || hex_digit(raw[i + 1]) < 0 || hex_digit(raw[i + 2]) < 0) {
        return false;
      }
      c = static_cast<char>(hex_digit(raw[i + 1]) * 16 + hex_digit(raw[i + 2]));
      i += 2;
    }
    if (control(c)) return false;
    path.push_back(c);
  }
  return true;
}

ParsedRequest refused(int status, std::string reason) {
  ParsedRequest parsed;
  parsed.state = ParsedRequest::State::refused;
  parsed.status = status;
  parsed.reason = std::move(reason);
  return parsed;
}

}  // namespace

bool equal_ignoring_case(std::string_view a, std::string_view b) noexcept {
  const auto lower = [](char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  };
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [&](char x, char y) { return lower(x) == lower(y); });
}

std::size_t head_end(std::string_view bytes, std::size_t from) noexcept {
  for (auto at = bytes.find('\n', from); at != std::string_view::npos;
       at = bytes.find('\n', at + 1)) {
    if (at + 1 < bytes.size() && bytes[at + 1] == '\n') return at + 2;
    if (at + 2 < bytes.size() && bytes[at + 1] == '\r' && bytes[at + 2] == '\n') return at + 3;
  }
  return std::string_view::npos;
}

ParsedRequest parse_request(std::string_view bytes, const RequestLimits& limits) {
  const std::size_t end = head_end(bytes);
  if (end == std::string_view::npos || end > limits.max_head_bytes) {
    if (end == std::string_view::npos && bytes.size() < limits.max_head_bytes) return {};
    // The request line alone too long, or the headers.
    if (bytes.substr(0, limits.max_head_bytes).find('\n') == std::string_view::npos) {
      return refused(414, "the request line is longer than " +
                              std::to_string(limits.max_head_bytes) + " bytes");
    }
    return refused(431, "the request's head is longer than " +
                            std::to_string(limits.max_head_bytes) + " bytes");
  }

  // Lines without their CRLF (or LF); the last one is the empty line.
  std::string_view head = bytes.substr(0, end);
  const auto next_line = [&head]() {
    const auto newline = head.find('\n');
    std::string_view line = head.substr(0, newline);
    head.remove_prefix(newline + 1);
    if (line.ends_with('\r')) line.remove_suffix(1);
    return line;
  };

  ParsedRequest parsed;
  Request& request = parsed.request;
  const std::string_view request_line = next_line();
  if (request_line.size() > limits.max_line_bytes) {
    return refused(
        414, "the request line is longer than " + std::to_string(limits.max_line_bytes) + " bytes");
  }
  const auto first_space = request_line.find(' ');
  const auto last_space = request_line.rfind(' ');
  if (first_space == std::string_view::npos || first_space == last_space) {
    return refused(400, "the request line is not METHOD TARGET VERSION");
  }
  request.method = request_line.substr(0, first_space);
  const std::string_view target =
      request_line.substr(first_space + 1, last_space - first_space - 1);
  const std::string_view version = request_line.substr(last_space + 1);
  if (!token_text(request.method) || version.size() != 8 || !version.starts_with("HTTP/1.") ||
      (version[7] != '0' && version[7] != '1')) {
    return refused(400, "the request line is not METHOD TARGET HTTP/1.x");
  }
  if (!target.starts_with('/') ||
      std::any_of(target.begin(), target.end(), [](char c) { return c == ' ' || control(c); })) {
    return refused(400, "the target is not a path");
  }
  const auto mark = target.find('?');
  if (!decode_path(target.substr(0, mark), request.path)) {
    return refused(400,
                   "the path has an escape that is not %XX (two hex digits), or a control "
                   "character");
  }
  request.query = parse_query(target);
  request.heavy = heavy_path(request.path);

  bool keep_alive = version[7] == '1';
  std::size_t lengths = 0;
  std::size_t length = 0;
  for (std::string_view line = next_line(); !line.empty(); line = next_line()) {
    if (line.size() > limits.max_line_bytes) {
      return refused(
          400, "a header line is longer than " + std::to_string(limits.max_line_bytes) + " bytes");
    }
    const auto colon = line.find(':');
    const std::string_view name = line.substr(0, colon);
    // No space before the colon, no continuation lines: a header that two
    // readers might take differently is refused.
    if (colon == std::string_view::npos || !token_text(name)) {
      return refused(400, "a header line is not NAME: VALUE");
    }
    std::string_view value = line.substr(colon + 1);
    const auto first = value.find_first_not_of(" \t");
    value = first == std::string_view::npos
                ? std::string_view{}
                : value.substr(first, value.find_last_not_of(" \t") - first + 1);
    if (std::any_of(value.begin(), value.end(), [](char c) { return control(c) && c != '\t'; })) {
      return refused(400, "a header value holds a control character");
    }
    if (equal_ignoring_case(name, "host")) {
      if (request.host_count++ == 0) request.host = value;
    } else if (equal_ignoring_case(name, "x-velmoran-token")) {
      if (request.token.empty()) request.token = value;
    } else if (equal_ignoring_case(name, "cookie")) {
      if (!request.cookies.empty()) request.cookies += "; ";
      request.cookies += value;
    } else if (equal_ignoring_case(name, "connection")) {
      const auto names = [](std::string_view option) {
        return [option](std::string_view item) { return equal_ignoring_case(item, option); };
      };
      if (any_item(value, ',', names("close"))) request.close = true;
      if (any_item(value, ',', names("keep-alive"))) keep_alive = true;
    } else if (equal_ignoring_case(name, "transfer-encoding")) {
      return refused(400, "a request body in Transfer-Encoding is not read");
    } else if (equal_ignoring_case(name, "content-length")) {
      const auto [at, ec] = std::from_chars(value.data(), value.data() + value.size(), length);
      if (++lengths > 1 || value.empty() || ec != std::errc{} ||
          at != value.data() + value.size()) {
        return refused(400, "Content-Length: one whole number");
      }
    }
    // Range and every other header are not acted on: every answer is its
    // whole body.
  }
  if (length > limits.max_body_bytes) {
    return refused(
        413, "a request body may have at most " + std::to_string(limits.max_body_bytes) + " bytes");
  }
  request.close = request.close || !keep_alive || length > 0;
  parsed.size = end + length;
  if (bytes.size() < parsed.size) return {};
  parsed.state = ParsedRequest::State::complete;
  return parsed;
}

}  // namespace velmoran::view
