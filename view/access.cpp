#include <velmoran/view/access.hpp>

#include <openssl/evp.h>
#include <sys/random.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <new>
#include <span>

#include "request_head.hpp"

namespace velmoran::view {

namespace {

constexpr std::size_t kTokenBytes = 32;

std::string hex(std::span<const std::uint8_t> bytes) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string text;
  text.reserve(2 * bytes.size());
  for (const std::uint8_t b : bytes) {
    text.push_back(kHex[b >> 4]);
    text.push_back(kHex[b & 0x0F]);
  }
  return text;
}

// The session cookie's value: SHA-256 of the token under a label of its own.
std::string session_secret(std::string_view token) {
  const std::string text = "velmoran view session\n" + std::string(token);
  std::array<std::uint8_t, EVP_MAX_MD_SIZE> digest{};
  unsigned int length = 0;
  if (EVP_Digest(text.data(), text.size(), digest.data(), &length, EVP_sha256(), nullptr) != 1) {
    throw std::bad_alloc();
  }
  return hex(std::span(digest).first(length));
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
  return hex(bytes);
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
    : token_(std::move(token)),
      cookie_name_("velmoran-view-" + std::to_string(port)),
      cookie_value_(session_secret(token_)) {
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

bool AccessPolicy::token_matches(std::string_view given) const noexcept {
  return same_secret(token_, given);
}

std::string AccessPolicy::cookie() const {
  return cookie_name_ + "=" + cookie_value_ + "; Path=/; HttpOnly; SameSite=Strict";
}

bool AccessPolicy::cookie_matches(std::string_view cookies) const {
  // "a=1; b=2": pairs separated by ';'.
  return any_item(cookies, ';', [this](std::string_view pair) {
    const auto equals = pair.find('=');
    return equals != std::string_view::npos && pair.substr(0, equals) == cookie_name_ &&
           same_secret(cookie_value_, pair.substr(equals + 1));
  });
}

}  // namespace velmoran::view
