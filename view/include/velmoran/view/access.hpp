// Who may read the run that `velmoran view` serves: a request must carry the
// session's random token and name the server's own address in its Host
// header. The token keeps out other users and other pages of the machine;
// the Host check keeps out pages that reach the port through a hostname of
// their own that resolves to 127.0.0.1 (DNS rebinding).
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

  // Whether a request with this Host header and these tokens (empty when
  // absent) may be answered.
  [[nodiscard]] bool allows(std::string_view host, std::string_view header_token,
                            std::string_view query_token) const;

 private:
  std::string token_;
  std::vector<std::string> hosts_;
};

}  // namespace velmoran::view
