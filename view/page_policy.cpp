#include "page_policy.hpp"

#include <openssl/evp.h>

#include <new>

namespace velmoran::view {

namespace {

// 'sha256-BASE64' of a script's text, as a policy names it.
std::string hash_source(std::string_view text) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(text.data(), text.size(), digest, &length, EVP_sha256(), nullptr) != 1) {
    throw std::bad_alloc();
  }
  unsigned char encoded[2 * EVP_MAX_MD_SIZE + 4] = {};
  const int size = EVP_EncodeBlock(encoded, digest, static_cast<int>(length));
  std::string source = "'sha256-";
  source.append(reinterpret_cast<const char*>(encoded), static_cast<std::size_t>(size));
  source += '\'';
  return source;
}

}  // namespace

std::string content_security_policy(std::string_view html) {
  constexpr std::string_view kOpen = "<script type=\"importmap\">";
  constexpr std::string_view kClose = "</script>";
  std::string policy = "default-src 'none'; script-src 'self'";
  for (auto at = html.find(kOpen); at != std::string_view::npos; at = html.find(kOpen, at)) {
    at += kOpen.size();
    const auto end = html.find(kClose, at);
    if (end == std::string_view::npos) break;
    policy.append(" ").append(hash_source(html.substr(at, end - at)));
    at = end;
  }
  // The favicon is an empty data: URL (no request for it).
  policy.append(
      "; style-src 'self'; img-src 'self' data:; connect-src 'self'; object-src 'none'; "
      "base-uri 'none'; frame-ancestors 'none'; form-action 'none'");
  return policy;
}

}  // namespace velmoran::view
