#include <velmoran/export/sha1.hpp>

#include <new>

#include <openssl/evp.h>

namespace velmoran::exporting {

struct Sha1::Context {
  EVP_MD_CTX* md = nullptr;
  ~Context() { EVP_MD_CTX_free(md); }
};

Sha1::Sha1() : context_(std::make_unique<Context>()) {
  context_->md = EVP_MD_CTX_new();
  if (context_->md == nullptr || EVP_DigestInit_ex(context_->md, EVP_sha1(), nullptr) != 1) {
    throw std::bad_alloc();
  }
}

Sha1::Sha1(Sha1&&) noexcept = default;
Sha1& Sha1::operator=(Sha1&&) noexcept = default;
Sha1::~Sha1() = default;

void Sha1::update(std::string_view bytes) {
  // EVP_DigestUpdate fails only on a context that was never initialised.
  EVP_DigestUpdate(context_->md, bytes.data(), bytes.size());
}

std::string Sha1::hex_digest() {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_DigestFinal_ex(context_->md, digest, &length);
  static constexpr char kHex[] = "0123456789abcdef";
  std::string text;
  text.reserve(2 * length);
  for (unsigned int i = 0; i < length; ++i) {
    text += kHex[digest[i] >> 4];
    text += kHex[digest[i] & 0xF];
  }
  return text;
}

}  // namespace velmoran::exporting
