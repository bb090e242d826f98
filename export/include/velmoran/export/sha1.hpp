// SHA-1 of a byte stream fed in pieces (the indexed mzML file checksum).
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace velmoran::exporting {

class Sha1 {
 public:
  // Throws std::bad_alloc when the digest context cannot be made.
  Sha1();
  Sha1(Sha1&&) noexcept;
  Sha1& operator=(Sha1&&) noexcept;
  ~Sha1();

  void update(std::string_view bytes);
  // The digest of everything fed so far as 40 lower-case hex digits; the
  // object is then spent.
  [[nodiscard]] std::string hex_digest();

 private:
  struct Context;
  std::unique_ptr<Context> context_;
};

}  // namespace velmoran::exporting
