// Who may read the run that `velmoran view` serves: a request must carry the
// session's random token (or the session cookie that a request with the
// token was given) and name the server's own address in its Host header.
// The token keeps out other users and other pages of the machine; the Host
// check keeps out pages that reach the port through a hostname of their own
// that resolves to 127.0.0.1 (DNS rebinding).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include <velmoran/result.hpp>

namespace velmoran::view {

// 32 bytes from the kernel's random source (getrandom), as 64 lowercase hex
// digits.
[[nodiscard]] Result<std::string> random_token();

// Equal texts, compared in a time that does not depend on where they differ.
[[nodiscard]] bool same_secret(std::string_view expected, std::string_view given) noexcept;

// A network address as it appears in a URL or a Host header: an IPv6
// address in brackets, anything else as it is.
[[nodiscard]] std::string url_host(std::string_view address);

class AccessPolicy {
 public:
  // Accepts "127.0.0.1:PORT", "localhost:PORT" and "BIND:PORT" for the
  // address the server is bound to (IPv6 in brackets).
  AccessPolicy(std::string token, std::string_view bind_address, int port);

  [[nodiscard]] const std::string& token() const noexcept { return token_; }

  // `host` is the request's one Host header; hostnames compare without case.
  [[nodiscard]] bool host_allowed(std::string_view host) const;

  // Whether `given` (a header's or the query's) is the token.
  [[nodiscard]] bool token_matches(std::string_view given) const noexcept;

  // The Set-Cookie value that signs a browser in for its session: named for
  // the port (browsers share cookies between the ports of a host), sent
  // back only to this host (SameSite=Strict), never readable by scripts
  // (HttpOnly), gone when the browser closes (no expiry). Its value is
  // derived from the token (SHA-256), so it is no token for a header or URL.
  [[nodiscard]] std::string cookie() const;

  // Whether the Cookie headers (joined by "; ") hold this server's cookie.
  [[nodiscard]] bool cookie_matches(std::string_view cookies) const;

 private:
  std::string token_;
  std::vector<std::string> hosts_;
  std::string cookie_name_;
  std::string cookie_value_;
};

}  // namespace velmoran::view
