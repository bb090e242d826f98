#include "request_head.hpp"

#include <algorithm>
#include <charconv>
#include <string_view>

#include "run_routes.hpp"

namespace velmoran::view {

namespace {

char lower(char c) noexcept { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Whether a header line has this name: the text before its colon, compared
// without case, as the HTTP library takes it (no spaces trimmed).
bool named(std::string_view line, std::string_view name) {
  const auto colon = line.find(':');
  return colon == name.size() &&
         std::equal(name.begin(), name.end(), line.begin(),
                    [](char expected, char c) { return expected == lower(c); });
}

std::string_view header_value(std::string_view line) {
  line.remove_prefix(line.find(':') + 1);
  const auto first = line.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  const auto last = line.find_last_not_of(" \t\r\n");
  return line.substr(first, last - first + 1);
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The path of a request line ("GET /api/xic?mz=1 HTTP/1.1"), %XX decoded
// as the library decodes it before routing.
std::string decoded_path(std::string_view request_line) {
  const auto start = request_line.find(' ');
  if (start == std::string_view::npos) return {};
  std::string_view target = request_line.substr(start + 1);
  target = target.substr(0, std::min(target.find(' '), target.find('?')));
  std::string path;
  for (std::size_t i = 0; i < target.size(); ++i) {
    if (target[i] == '%' && i + 2 < target.size() && hex_digit(target[i + 1]) >= 0 &&
        hex_digit(target[i + 2]) >= 0) {
      path += static_cast<char>(hex_digit(target[i + 1]) * 16 + hex_digit(target[i + 2]));
      i += 2;
    } else {
      path += target[i];
    }
  }
  return path;
}

}  // namespace

RequestHead examine_request(std::string& bytes, std::size_t max_head, std::size_t max_body) {
  RequestHead head;
  // The first line that is CRLF alone ends the head; the request line
  // before it ends with LF.
  const auto mark = bytes.find("\n\r\n");
  if (mark == std::string::npos || mark + 3 > max_head) {
    if (bytes.size() >= max_head) head.state = RequestHead::State::too_large;
    return head;
  }
  std::size_t head_end = mark + 3;
  const std::size_t line_end = bytes.find('\n');
  head.heavy = heavy_path(decoded_path(std::string_view(bytes).substr(0, line_end)));

  std::size_t lengths = 0;
  std::size_t length = 0;
  bool length_valid = false;
  for (std::size_t at = line_end + 1; at < head_end - 2;) {
    const std::size_t next = bytes.find('\n', at) + 1;
    const std::string_view line = std::string_view(bytes).substr(at, next - at);
    if (named(line, "range")) {
      bytes.erase(at, next - at);
      head_end -= next - at;
      continue;
    }
    if (named(line, "content-length")) {
      ++lengths;
      const std::string_view value = header_value(line);
      const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), length);
      length_valid = !value.empty() && ec == std::errc{} && end == value.data() + value.size();
    } else if (named(line, "transfer-encoding")) {
      head.close_after = true;
    }
    at = next;
  }

  head.size = head_end;
  if (lengths == 1 && length_valid && length <= max_body) {
    head.size += length;
    head.close_after = head.close_after || length > 0;
  } else if (lengths > 0) {
    head.close_after = true;
  }
  head.state =
      bytes.size() >= head.size ? RequestHead::State::complete : RequestHead::State::incomplete;
  return head;
}

}  // namespace velmoran::view
