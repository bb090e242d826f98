#include <velmoran/view/access.hpp>

#include <sys/random.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstddef>
#include <cstdint>

namespace velmoran::view {

namespace {

constexpr std::size_t kTokenBytes = 32;

char lower(char c) noexcept { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool equal_ignoring_case(std::string_view a, std::string_view b) noexcept {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [](char x, char y) { return lower(x) == lower(y); });
}

}  // namespace

Result<std::string> random_token() {
  std::array<std::uint8_t, kTokenBytes> bytes{};
  std::size_t filled = 0;
  while (filled < bytes.size()) {
    const ssize_t got = ::getrandom(bytes.data() + filled, bytes.size() - filled, 0);
    if (got < 0) {
      if (errno == EINTR) continue;
      return Error::os(errno);
    }
    filled += static_cast<std::size_t>(got);
  }
  static constexpr char kHex[] = "0123456789abcdef";
  std::string token;
  token.reserve(2 * bytes.size());
  for (const std::uint8_t b : bytes) {
    token.push_back(kHex[b >> 4]);
    token.push_back(kHex[b & 0x0F]);
  }
  return token;
}

bool same_secret(std::string_view expected, std::string_view given) noexcept {
  // The length of the expected token is no secret; its digits are.
  if (expected.size() != given.size()) return false;
  unsigned difference = 0;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    difference |= static_cast<unsigned>(static_cast<unsigned char>(expected[i]) ^
                                        static_cast<unsigned char>(given[i]));
  }
  return difference == 0;
}

std::string url_host(std::string_view address) {
  std::string host;
  const bool ipv6 = address.find(':') != std::string_view::npos;
  if (ipv6) host.push_back('[');
  host.append(address);
  if (ipv6) host.push_back(']');
  return host;
}

AccessPolicy::AccessPolicy(std::string token, std::string_view bind_address, int port)
    : token_(std::move(token)) {
  const std::string suffix = std::to_string(port);
  const auto with_port = [&](std::string host) { return host.append(":").append(suffix); };
  hosts_ = {with_port("127.0.0.1"), with_port("localhost")};
  const std::string bound = with_port(url_host(bind_address));
  if (std::find(hosts_.begin(), hosts_.end(), bound) == hosts_.end()) hosts_.push_back(bound);
}

bool AccessPolicy::host_allowed(std::string_view host) const {
  return std::any_of(hosts_.begin(), hosts_.end(), [&](const std::string& allowed) {
    return equal_ignoring_case(allowed, host);
  });
}

bool AccessPolicy::allows(std::string_view host, std::string_view header_token,
                          std::string_view query_token) const {
  if (!host_allowed(host)) return false;
  return same_secret(token_, header_token) || same_secret(token_, query_token);
}

}  // namespace velmoran::view
