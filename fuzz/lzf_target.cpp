// raw::decompress against a plain reading of the stream format: the same
// outcome, the same message, the same bytes (of a failed stream, those of
// the chunks before the failure). The decoder's fast loop and
// wide copies must agree with the forward byte-by-byte copy on every
// stream. Then the input's bytes, compressed by our writer's compressor,
// must come back unchanged.
#include <algorithm>
#include <optional>
#include <string>

#include "check.hpp"
#include "dataset_writer.hpp"
#include "raw/lzf.hpp"
#include "targets.hpp"

namespace velmoran::fuzz {

namespace {

struct Expansion {
  ByteVector bytes;          // produced by the chunks read whole
  std::size_t consumed = 0;  // input bytes of those chunks
  std::optional<std::string> error;
};

// One chunk at a time, every check in its order, the output grown as it
// is produced (never sized by the expected length, which may be 4 GiB).
Expansion reference_decompress(ByteView in, std::size_t expected) {
  Expansion result;
  ByteVector& out = result.bytes;
  const auto fail = [&](std::string message) {
    result.error = std::move(message);
    return result;
  };
  if (expected == 0) return result;
  std::size_t ip = 0;
  while (ip < in.size() && out.size() < expected) {
    const std::size_t control = in[ip];
    const std::size_t op = out.size();
    if (control < 0x20) {
      const std::size_t run = control + 1;
      if (ip + 1 + run > in.size()) return fail("LZF: literal run out of bounds");
      if (op + run > expected) return fail("LZF: literal run out of bounds");
      out.insert(out.end(), in.begin() + static_cast<std::ptrdiff_t>(ip + 1),
                 in.begin() + static_cast<std::ptrdiff_t>(ip + 1 + run));
      ip += 1 + run;
      result.consumed = ip;
      continue;
    }
    const std::size_t high = (control & 0x1F) << 8;
    if (op <= high) return fail("LZF: invalid back reference");
    std::size_t length = control >> 5;
    std::size_t next = ip + 1;
    if (length == 7) {
      if (next >= in.size()) return fail("LZF: truncated length byte");
      length += in[next];
      ++next;
    }
    if (next >= in.size()) return fail("LZF: truncated reference byte");
    const std::size_t low = in[next];
    if (op < high + 1 + low) return fail("LZF: invalid back reference");
    const std::size_t ref = op - high - 1 - low;
    if (op + length + 2 > expected) return fail("LZF: match run exceeds output bounds");
    for (std::size_t k = 0; k < length + 2; ++k) {
      const std::uint8_t byte = out[ref + k];
      out.push_back(byte);
    }
    ip = next + 1;
    result.consumed = ip;
  }
  if (out.size() != expected) {
    return fail("LZF: decompressed length " + std::to_string(out.size()) + " != expected " +
                std::to_string(expected));
  }
  return result;
}

bool same_bytes(ByteView a, ByteView b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin());
}

}  // namespace

void run_lzf(ByteView input) {
  const LzfInput carved = split_lzf_input(input);
  const std::size_t expected = expected_length_of(carved.selector);

  auto decoded = raw::decompress(carved.stream, expected);
  const Expansion reference = reference_decompress(carved.stream, expected);
  VELMORAN_FUZZ_CHECK(decoded.has_value() == !reference.error.has_value());
  if (decoded) {
    VELMORAN_FUZZ_CHECK(decoded->size() == expected);
    VELMORAN_FUZZ_CHECK(same_bytes(decoded->view(), reference.bytes));
  } else {
    VELMORAN_FUZZ_CHECK(decoded.error().is_parse());
    VELMORAN_FUZZ_CHECK(decoded.error().detail() == *reference.error);
    // A failed stream hides its output, so compare what came before the
    // failure: the chunks read whole must expand to the same bytes when
    // they are all there is and their length is the one expected. Random
    // streams seldom hit their expected length; this checks them anyway.
    auto prefix = raw::decompress(carved.stream.first(reference.consumed), reference.bytes.size());
    VELMORAN_FUZZ_CHECK(prefix.has_value());
    VELMORAN_FUZZ_CHECK(same_bytes(prefix->view(), reference.bytes));
  }

  // Round trip through our compressor.
  const ByteVector packed = testkit::lzf_compress(carved.stream);
  auto unpacked = raw::decompress(packed, carved.stream.size());
  VELMORAN_FUZZ_CHECK(unpacked.has_value());
  VELMORAN_FUZZ_CHECK(same_bytes(unpacked->view(), carved.stream));
}

}  // namespace velmoran::fuzz
