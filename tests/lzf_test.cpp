#include "raw/lzf.hpp"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include <gtest/gtest.h>
#include <lzf.h>

#include "dataset_writer.hpp"
#include "synthetic_run.hpp"

namespace velmoran::raw {
namespace {

using testkit::ByteVector;

// A decoding's outcome as one comparable value: the bytes, or the message.
using Outcome = std::variant<ByteVector, std::string>;

Outcome decode(ByteView input, std::size_t expected_length) {
  auto result = decompress(input, expected_length);
  if (!result) {
    EXPECT_TRUE(result.error().is_parse());
    return result.error().detail();
  }
  EXPECT_EQ(result->size(), expected_length);
  return ByteVector(result->data(), result->data() + result->size());
}

ByteVector repeat(std::uint8_t byte, std::size_t count) { return ByteVector(count, byte); }

ByteVector concat(std::initializer_list<ByteVector> parts) {
  ByteVector out;
  for (const ByteVector& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

const std::string kLiteral = "LZF: literal run out of bounds";
const std::string kInvalid = "LZF: invalid back reference";
const std::string kNoLength = "LZF: truncated length byte";
const std::string kNoOffset = "LZF: truncated reference byte";
const std::string kMatchPast = "LZF: match run exceeds output bounds";
std::string length_message(std::size_t produced, std::size_t expected) {
  return "LZF: decompressed length " + std::to_string(produced) + " != expected " +
         std::to_string(expected);
}

// The decoding algorithm in its plainest form, index by index and byte by
// byte: the oracle that the two-tier decoder is compared with.
Outcome reference_decompress(ByteView in, std::size_t n) {
  ByteVector out(n, 0);
  std::size_t ip = 0;
  std::size_t op = 0;
  while (ip < in.size() && op < n) {
    const std::size_t ctrl = in[ip];
    if (ctrl < 0x20) {
      const std::size_t run = ctrl + 1;
      if (ip + 1 + run > in.size() || op + run > n) return kLiteral;
      std::copy_n(in.begin() + static_cast<std::ptrdiff_t>(ip + 1), run,
                  out.begin() + static_cast<std::ptrdiff_t>(op));
      op += run;
      ip += 1 + run;
      continue;
    }
    const std::size_t high = (ctrl & 0x1F) << 8;
    if (op <= high) return kInvalid;
    std::size_t length = ctrl >> 5;
    std::size_t next = ip + 1;
    if (length == 7) {
      if (next >= in.size()) return kNoLength;
      length = 7 + in[next++];
    }
    if (next >= in.size()) return kNoOffset;
    const std::size_t offset = in[next];
    if (op < high + 1 + offset) return kInvalid;
    const std::size_t ref = op - high - 1 - offset;
    if (op + length + 2 > n) return kMatchPast;
    for (std::size_t k = 0; k < length + 2; ++k) out[op + k] = out[ref + k];
    op += length + 2;
    ip = next + 1;
  }
  if (op != n) return length_message(op, n);
  return out;
}

// A back reference of `count` bytes (3..264) at `distance` (1..8192).
ByteVector reference(std::size_t distance, std::size_t count) {
  const std::size_t high = (distance - 1) >> 8;
  const auto low = static_cast<std::uint8_t>((distance - 1) & 0xFF);
  if (count <= 8) return {static_cast<std::uint8_t>((count - 2) << 5 | high), low};
  return {static_cast<std::uint8_t>(0xE0 | high), static_cast<std::uint8_t>(count - 9), low};
}

// Literal runs holding `bytes`, 32 at most per run.
ByteVector literals(const ByteVector& bytes) {
  ByteVector out;
  for (std::size_t at = 0; at < bytes.size(); at += 32) {
    const std::size_t run = std::min<std::size_t>(32, bytes.size() - at);
    out.push_back(static_cast<std::uint8_t>(run - 1));
    out.insert(out.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at),
               bytes.begin() + static_cast<std::ptrdiff_t>(at + run));
  }
  return out;
}

ByteVector counting_bytes(std::size_t count, std::uint8_t first = 0) {
  ByteVector out(count);
  for (std::size_t i = 0; i < count; ++i) out[i] = static_cast<std::uint8_t>(first + i);
  return out;
}

struct StreamCase {
  const char* name;
  ByteVector stream;
  std::size_t expected_length;
  Outcome outcome;
};

// Hand-made streams: each byte commented, each failure in its place in the
// order of checks.
TEST(Lzf, HandMadeStreams) {
  // 0x00 0x61 0xE0 0xFF 0x00: 'a', then 264 copies of it; output 265 bytes.
  const ByteVector long_prefix = {0x00, 0x61, 0xE0, 0xFF, 0x00};
  const StreamCase cases[] = {
      {"empty output ignores empty input", {}, 0, ByteVector{}},
      {"empty output ignores malformed input", {0xFF, 0x01}, 0, ByteVector{}},
      {"empty input", {}, 5, length_message(0, 5)},
      // literal of 1: 'a'
      {"one literal", {0x00, 0x61}, 1, ByteVector{0x61}},
      {"input ends short", {0x00, 0x61}, 2, length_message(1, 2)},
      // literal 'a'; back reference: length code 1 (3 bytes), distance 0+0+1
      {"distance 1 repeats", {0x00, 0x61, 0x20, 0x00}, 4, repeat(0x61, 4)},
      {"match past the end", {0x00, 0x61, 0x20, 0x00}, 3, kMatchPast},
      // literal 'a'; literal 'b', never read: the output is full
      {"stops when full", {0x00, 0x61, 0x00, 0x62}, 1, ByteVector{0x61}},
      // literal 'a'; 0xFF would be a back reference whose bytes are missing
      {"trailing garbage ignored", {0x00, 0x61, 0xFF}, 1, ByteVector{0x61}},
      // back reference at output position 0
      {"reference at start", {0x20, 0x00}, 1, kInvalid},
      // extended back reference at position 0, length byte absent: the high
      // part is tested first
      {"high part before length byte", {0xE0}, 1, kInvalid},
      // literal 'a'; extended reference, length byte absent
      {"truncated length byte", {0x00, 0x61, 0xE0}, 2, kNoLength},
      // literal 'a'; plain reference, offset byte absent
      {"truncated offset byte", {0x00, 0x61, 0x20}, 2, kNoOffset},
      // literal 'a'; extended reference, length 0 + 9, offset byte absent
      {"extended, truncated offset", {0x00, 0x61, 0xE0, 0x00}, 2, kNoOffset},
      // literal 'a'; distance 2 from position 1
      {"distance past start", {0x00, 0x61, 0x20, 0x01}, 2, kInvalid},
      // literal 'a'; high part 256 >= position 1, tested before the missing
      // offset byte
      {"high part before offset byte", {0x00, 0x61, 0x21}, 8, kInvalid},
      // literal of 2 with one byte present
      {"literal past input", {0x01, 0x61}, 2, kLiteral},
      // literal of 2, both present, output room for 1
      {"literal past output", {0x01, 0x61, 0x62}, 1, kLiteral},
      // literal of 32, 31 present; output too short as well
      {"literal of 32 short by one", concat({{0x1F}, counting_bytes(31)}), 10, kLiteral},
      // literal 'a'; extended reference, E = 255 (264 bytes), distance 1
      {"longest match", long_prefix, 265, repeat(0x61, 265)},
      {"longest match one past", long_prefix, 264, kMatchPast},
      // 265 bytes out; extended reference with high part 256 < 265, then
      // the length byte is missing
      {"high part passes, length byte missing", concat({long_prefix, {0xE1}}), 300, kNoLength},
      // ...; extended reference, E = 0, offset byte missing
      {"high part passes, offset missing", concat({long_prefix, {0xE1, 0x00}}), 300, kNoOffset},
      // ...; 3 bytes at distance 256 + 8 + 1 = 265 = position: the first byte
      {"distance equal to position", concat({long_prefix, {0x21, 0x08}}), 268, repeat(0x61, 268)},
      // ...; distance 266 from position 265
      {"distance one past position", concat({long_prefix, {0x21, 0x09}}), 268, kInvalid},
      // literal "ab"; 5 bytes at distance 2 give "ababa"
      {"distance 2 alternates",
       {0x01, 0x61, 0x62, 0x60, 0x01},
       7,
       ByteVector{0x61, 0x62, 0x61, 0x62, 0x61, 0x62, 0x61}},
  };
  for (const StreamCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(decode(c.stream, c.expected_length), c.outcome);
    EXPECT_EQ(reference_decompress(c.stream, c.expected_length), c.outcome);
  }
}

TEST(Lzf, ErrorTextIsParse) {
  const ByteVector stream = {0x20, 0x00};
  auto result = decompress(stream, 1);
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().text(), "parse error: LZF: invalid back reference");
}

// Every distance and count near the copy widths, copied once where the fast
// loop runs (a long tail of literals after it) and once at the very end of
// the stream, where only the careful loop runs.
TEST(Lzf, OverlappingCopiesMatchTheForwardByteCopy) {
  const ByteVector prefix = counting_bytes(40, 0x41);
  const ByteVector tail = counting_bytes(330, 0x80);
  for (std::size_t distance = 1; distance <= 40; ++distance) {
    for (std::size_t count :
         {3U, 4U, 7U, 8U, 9U, 15U, 16U, 17U, 31U, 32U, 33U, 63U, 100U, 263U, 264U}) {
      SCOPED_TRACE("distance " + std::to_string(distance) + " count " + std::to_string(count));
      const ByteVector at_end = concat({literals(prefix), reference(distance, count)});
      const ByteVector in_middle = concat({at_end, literals(tail)});
      const std::size_t n_at_end = prefix.size() + count;
      for (const auto& [stream, n] :
           {std::pair{at_end, n_at_end}, std::pair{in_middle, n_at_end + tail.size()}}) {
        const Outcome expected = reference_decompress(stream, n);
        ASSERT_TRUE(std::holds_alternative<ByteVector>(expected));
        EXPECT_EQ(decode(stream, n), expected);
      }
    }
  }
}

TEST(Lzf, FarthestDistance) {
  // 8192 distinct-ish bytes, then 264 bytes copied from 8192 back; then a
  // reference one byte farther than exists, in both tiers.
  const ByteVector prefix = counting_bytes(8192, 7);
  const ByteVector stream = concat({literals(prefix), reference(8192, 264)});
  const Outcome expected = reference_decompress(stream, 8192 + 264);
  ASSERT_TRUE(std::holds_alternative<ByteVector>(expected));
  EXPECT_EQ(decode(stream, 8192 + 264), expected);

  const ByteVector short_prefix = counting_bytes(8191, 7);
  const ByteVector too_far = concat({literals(short_prefix), reference(8192, 3)});
  EXPECT_EQ(decode(too_far, 8191 + 3), Outcome(kInvalid));
  EXPECT_EQ(decode(concat({too_far, literals(counting_bytes(64))}), 9000), Outcome(kInvalid));
}

// The expected length comes from a 32-bit file field: a claim far beyond
// what the stream can yield fails with the length message and allocates no
// more than the stream could fill (an allocation of the claim would throw).
TEST(Lzf, ClaimBeyondTheStreamIsBoundedByTheInput) {
  const ByteVector one = {0x00, 0x61};
  const std::size_t huge = std::numeric_limits<std::size_t>::max();
  EXPECT_EQ(decode(one, huge), Outcome(length_message(1, huge)));
  EXPECT_EQ(decode(one, 0xFFFFFFFFU), Outcome(length_message(1, 0xFFFFFFFFU)));

  // The densest possible stream: 'a', then extended references of 264
  // bytes, 3 input bytes each. Decoded exactly, one short, one over.
  ByteVector dense = {0x00, 0x61};
  for (int i = 0; i < 40; ++i) dense.insert(dense.end(), {0xE0, 0xFF, 0x00});
  const std::size_t n = 1 + 40 * 264;
  EXPECT_EQ(decode(dense, n), Outcome(repeat(0x61, n)));
  EXPECT_EQ(decode(dense, n + 1), Outcome(length_message(n, n + 1)));
  EXPECT_EQ(decode(dense, n - 1), Outcome(kMatchPast));
  EXPECT_EQ(decode(dense, 0xFFFFFFFFU), Outcome(length_message(n, 0xFFFFFFFFU)));
}

// Random chunk sequences, valid and broken, against the oracle: every
// message and every byte must agree, whichever tier meets the chunk.
TEST(Lzf, RandomStreamsAgreeWithTheOracle) {
  std::mt19937_64 rng(20240611);
  std::uniform_int_distribution<int> percent(0, 99);
  for (int iteration = 0; iteration < 3000; ++iteration) {
    ByteVector stream;
    std::size_t produced = 0;
    const int chunks = std::uniform_int_distribution<int>(1, 60)(rng);
    for (int c = 0; c < chunks; ++c) {
      if (produced == 0 || percent(rng) < 40) {
        const std::size_t run = std::uniform_int_distribution<std::size_t>(1, 32)(rng);
        ByteVector bytes(run);
        for (auto& b : bytes) b = static_cast<std::uint8_t>(percent(rng) < 50 ? 0 : rng());
        const ByteVector run_bytes = literals(bytes);
        stream.insert(stream.end(), run_bytes.begin(), run_bytes.end());
        produced += run;
      } else {
        const std::size_t limit =
            std::min<std::size_t>(produced + (percent(rng) < 3 ? 5 : 0), 8192);
        const std::size_t distance =
            percent(rng) < 50 ? std::uniform_int_distribution<std::size_t>(
                                    1, std::min<std::size_t>(limit, 20))(rng)
                              : std::uniform_int_distribution<std::size_t>(1, limit)(rng);
        const std::size_t count = percent(rng) < 60
                                      ? std::uniform_int_distribution<std::size_t>(3, 8)(rng)
                                      : std::uniform_int_distribution<std::size_t>(9, 264)(rng);
        const ByteVector ref = reference(distance, count);
        stream.insert(stream.end(), ref.begin(), ref.end());
        produced += count;
      }
    }
    // Damage some streams: a flipped byte, or a cut.
    const int damage = percent(rng);
    if (damage < 15) {
      stream[std::uniform_int_distribution<std::size_t>(0, stream.size() - 1)(rng)] ^=
          static_cast<std::uint8_t>(1U << (rng() % 8));
    } else if (damage < 30) {
      stream.resize(std::uniform_int_distribution<std::size_t>(0, stream.size())(rng));
    }
    std::size_t n = produced;
    const int claim = percent(rng);
    if (claim < 20) {
      n = produced - std::min<std::size_t>(produced, rng() % 300);
    } else if (claim < 35) {
      n = produced + rng() % 300;
    }
    SCOPED_TRACE("iteration " + std::to_string(iteration));
    ASSERT_EQ(decode(stream, n), reference_decompress(stream, n));
  }
}

// Test data in the shapes the decoder meets or must survive.
ByteVector profile_bytes(std::size_t byte_count, std::uint64_t seed) {
  const auto intensities = testkit::synthetic_profile((byte_count + 3) / 4, seed);
  ByteVector out = testkit::profile_payload(intensities);
  out.erase(out.begin(), out.begin() + 16);
  out.resize(byte_count);
  return out;
}

ByteVector noise_bytes(std::size_t byte_count, std::mt19937_64& rng) {
  ByteVector out(byte_count);
  for (auto& b : out) b = static_cast<std::uint8_t>(rng());
  return out;
}

// Bytes from a small alphabet: short matches at every distance.
ByteVector small_alphabet_bytes(std::size_t byte_count, std::mt19937_64& rng) {
  ByteVector out(byte_count);
  for (auto& b : out) b = static_cast<std::uint8_t>('a' + rng() % 4);
  return out;
}

// A short random unit repeated, with rare changes: overlapping matches of
// distances 1 to 16.
ByteVector periodic_bytes(std::size_t byte_count, std::mt19937_64& rng) {
  const std::size_t period = 1 + rng() % 16;
  ByteVector out(byte_count);
  for (std::size_t i = 0; i < byte_count; ++i) {
    out[i] = i < period ? static_cast<std::uint8_t>(rng()) : out[i - period];
    if (rng() % 997 == 0) out[i] = static_cast<std::uint8_t>(rng());
  }
  return out;
}

ByteVector make_input(int kind, std::size_t size, std::mt19937_64& rng) {
  switch (kind) {
    case 0:
      return profile_bytes(size, rng());
    case 1:
      return noise_bytes(size, rng);
    case 2:
      return ByteVector(size, static_cast<std::uint8_t>(rng()));
    case 3:
      return small_alphabet_bytes(size, rng);
    default:
      return periodic_bytes(size, rng);
  }
}
constexpr int kInputKinds = 5;

ByteVector liblzf_compress(const ByteVector& in) {
  // Worst case: one control byte per 32 literal bytes, plus slack.
  ByteVector out(in.size() + in.size() / 16 + 64);
  const unsigned written = lzf_compress(in.data(), static_cast<unsigned>(in.size()), out.data(),
                                        static_cast<unsigned>(out.size()));
  if (!in.empty()) {
    EXPECT_NE(written, 0U);
  }
  out.resize(written);
  return out;
}

void expect_restores(const ByteVector& original, const ByteVector& stream) {
  auto result = decompress(stream, original.size());
  ASSERT_TRUE(result) << result.error();
  ASSERT_EQ(result->size(), original.size());
  ASSERT_TRUE(std::equal(original.begin(), original.end(), result->data()));
}

std::vector<std::size_t> sizes_to_try(std::mt19937_64& rng) {
  std::vector<std::size_t> sizes;
  for (std::size_t s = 0; s <= 300; ++s) sizes.push_back(s);
  for (int i = 0; i < 500; ++i) sizes.push_back(301 + rng() % 20000);
  for (int i = 0; i < 20; ++i) sizes.push_back(20000 + rng() % 300000);
  return sizes;
}

TEST(LzfCrossCheck, RestoresWhatLiblzfCompressed) {
  std::mt19937_64 rng(7);
  int count = 0;
  for (std::size_t size : sizes_to_try(rng)) {
    const int kind = count++ % kInputKinds;
    const ByteVector original = make_input(kind, size, rng);
    const ByteVector stream = liblzf_compress(original);
    SCOPED_TRACE("size " + std::to_string(size) + " kind " + std::to_string(kind));
    expect_restores(original, stream);
    if (size > 0) {
      // A claim one longer is refused, never padded; one shorter is refused
      // too unless the stream's last chunk is a literal of one byte, which
      // is then never read.
      auto longer = decompress(stream, size + 1);
      ASSERT_FALSE(longer);
      EXPECT_EQ(longer.error().detail(), length_message(size, size + 1));
      auto shorter = decompress(stream, size - 1);
      if (shorter) {
        EXPECT_EQ(stream[stream.size() - 2], 0x00);
        EXPECT_TRUE(std::equal(original.begin(), original.end() - 1, shorter->data()));
      }
    }
  }
  for (int kind = 0; kind < kInputKinds; ++kind) {
    const ByteVector original = make_input(kind, 3 * 1024 * 1024 + 17, rng);
    SCOPED_TRACE("large, kind " + std::to_string(kind));
    expect_restores(original, liblzf_compress(original));
  }
}

TEST(LzfCrossCheck, OurCompressorRoundTripsThroughBothDecoders) {
  std::mt19937_64 rng(11);
  int count = 0;
  for (std::size_t size : sizes_to_try(rng)) {
    const int kind = count++ % kInputKinds;
    const ByteVector original = make_input(kind, size, rng);
    const ByteVector stream = testkit::lzf_compress(original);
    SCOPED_TRACE("size " + std::to_string(size) + " kind " + std::to_string(kind));
    expect_restores(original, stream);
    if (size == 0) continue;  // liblzf reads one byte even from an empty stream
    ByteVector restored(size);
    const unsigned written =
        lzf_decompress(stream.data(), static_cast<unsigned>(stream.size()), restored.data(),
                       static_cast<unsigned>(restored.size()));
    ASSERT_EQ(written, size);
    ASSERT_EQ(restored, original);
  }
}

// Damaged streams: whatever the damage, an error or a full output, never a
// crash or a read outside the buffers (the sanitizer build watches).
TEST(LzfCrossCheck, DamagedStreamsFailCleanly) {
  std::mt19937_64 rng(13);
  for (int i = 0; i < 300; ++i) {
    const ByteVector original = make_input(i % kInputKinds, 1 + rng() % 5000, rng);
    ByteVector stream = liblzf_compress(original);
    const std::size_t cut = rng() % stream.size();
    stream.resize(cut);
    EXPECT_FALSE(decompress(stream, original.size()));
    for (int flips = 0; flips < 3 && !stream.empty(); ++flips) {
      stream[rng() % stream.size()] = static_cast<std::uint8_t>(rng());
    }
    auto damaged = decompress(stream, original.size());
    if (damaged) {
      EXPECT_EQ(damaged->size(), original.size());
    }
  }
}

}  // namespace
}  // namespace velmoran::raw
