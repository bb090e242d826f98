// Datasets whose every count is hostile: blocks of 4 GiB, profile data of
// 4 GiB uncompressed, 2^32 - 1 points, offsets at the very end of the
// 64-bit range. Opening and draining them must cost memory in proportion
// to the files, never to what their fields claim, and must stay quick.
//
// Memory is watched two ways: every operator new of this executable is
// counted (an allocation the reader never writes would not show in the
// resident size), and the peak resident size is read before and after.
#include <malloc.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <new>

#include <gtest/gtest.h>

#include "dataset_writer.hpp"
#include <velmoran/reader.hpp>

namespace {

std::atomic<std::size_t> g_live_bytes{0};
std::atomic<std::size_t> g_peak_bytes{0};

void* counted_allocation(std::size_t size) noexcept {
  void* p = std::malloc(size == 0 ? 1 : size);
  if (p == nullptr) return nullptr;
  const std::size_t live = g_live_bytes += ::malloc_usable_size(p);
  std::size_t peak = g_peak_bytes.load();
  while (live > peak && !g_peak_bytes.compare_exchange_weak(peak, live)) {
  }
  return p;
}

void counted_release(void* p) noexcept {
  if (p == nullptr) return;
  g_live_bytes -= ::malloc_usable_size(p);
  std::free(p);
}

}  // namespace

// The replacement operators below pair operator new with a free() that GCC
// sees once they are inlined; the pairing is right (counted_allocation got
// the memory from malloc), so the warning is off for them.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

void* operator new(std::size_t size) {
  if (void* p = counted_allocation(size)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
  if (void* p = counted_allocation(size)) return p;
  throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return counted_allocation(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return counted_allocation(size);
}
void operator delete(void* p) noexcept { counted_release(p); }
void operator delete[](void* p) noexcept { counted_release(p); }
void operator delete(void* p, std::size_t) noexcept { counted_release(p); }
void operator delete[](void* p, std::size_t) noexcept { counted_release(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { counted_release(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { counted_release(p); }

namespace velmoran {
namespace {

using testkit::ByteVector;
using testkit::Descriptor;
using testkit::Layout;

constexpr std::uint32_t kScans = 2000;
constexpr std::uint32_t kAll = 0xFFFFFFFFU;
constexpr std::size_t kMemoryBound = std::size_t{256} << 20;

// AddressSanitizer keeps freed memory in a quarantine of its own (256 MiB
// by default), so there the resident size says nothing about what the
// library holds; the heap counter still does.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kResidentSizeMeaningful = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kResidentSizeMeaningful = false;
#else
constexpr bool kResidentSizeMeaningful = true;
#endif
#else
constexpr bool kResidentSizeMeaningful = true;
#endif

// Growth of the counted heap and of the peak resident size over a span of
// work, measured from its start.
class MemoryWatch {
 public:
  MemoryWatch() : rss_start_kib_(peak_rss_kib()) { g_peak_bytes = g_live_bytes.load(); }
  [[nodiscard]] std::size_t heap_growth() const { return g_peak_bytes - live_start_; }
  [[nodiscard]] std::size_t rss_growth() const {
    return static_cast<std::size_t>(peak_rss_kib() - rss_start_kib_) * 1024;
  }

 private:
  static long peak_rss_kib() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
  }
  std::size_t live_start_ = g_live_bytes.load();
  long rss_start_kib_;
};

// An LZF stream that expands as far as the format allows: one literal,
// then back references of 264 bytes at distance 1, 88 output bytes for
// every input byte.
ByteVector max_expansion_stream(std::size_t references) {
  ByteVector stream{0x00, 0x61};
  for (std::size_t i = 0; i < references; ++i) stream.insert(stream.end(), {0xE0, 0xFF, 0x00});
  return stream;
}

ByteVector filler(std::size_t size) {
  ByteVector bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 31 + 7);
  return bytes;
}

Descriptor claim(Descriptor d, std::uint32_t byte_count, std::uint32_t point_count,
                 std::uint32_t uncompressed) {
  d.byte_count = byte_count;
  d.point_count = point_count;
  d.uncompressed_byte_count = uncompressed;
  return d;
}

// Every scan of the table gets the same two descriptors (the second only
// where the layout has one).
void fill_table(testkit::DatasetWriter& writer, Layout layout, const Descriptor& first,
                const Descriptor& second) {
  writer.table().layout = layout;
  for (std::uint32_t i = 0; i < kScans; ++i) {
    testkit::RecordSpec r;
    r.scan_id = i + 1;
    r.ms_level = static_cast<std::uint16_t>(1 + i % 2);
    r.mz_range_low = 100.0;
    r.mz_range_high = 1500.0;
    r.first = first;
    r.second = second;
    writer.table().records.push_back(r);
  }
}

struct Case {
  const char* name;
  std::function<void(testkit::DatasetWriter&)> build;
  // Changes the written dataset (AcqData) where the writer cannot.
  std::function<void(const std::filesystem::path&)> after_write;
};

const Case kCases[] = {
    {"4 GiB blocks in small files, both descriptors",
     [](testkit::DatasetWriter& w) {
       const Descriptor profile =
           claim(w.add_raw_profile_block(filler(4096), 0, 0), kAll, kAll, kAll);
       const Descriptor peak = claim(w.add_raw_peak_block(filler(4096), 3, 0), kAll, kAll, 0);
       fill_table(w, Layout::k284, profile, peak);
     },
     {}},
    {"4 GiB profile blocks, narrow descriptors",
     [](testkit::DatasetWriter& w) {
       const Descriptor profile =
           claim(w.add_raw_profile_block(filler(4096), 0, 0), kAll, kAll, kAll);
       fill_table(w, Layout::k186, profile, {});
     },
     {}},
    {"4 GiB peak blocks of format 2",
     [](testkit::DatasetWriter& w) {
       const Descriptor peak = claim(w.add_raw_peak_block(filler(4096), 2, 0), kAll, kAll, 0);
       fill_table(w, Layout::k216, peak, {});
     },
     {}},
    {"real blocks, 4 GiB uncompressed and 2^32-1 points",
     [](testkit::DatasetWriter& w) {
       // The profile stream really expands 88-fold, then falls short of
       // 4 GiB; the peak block holds 4 KiB, not 12 times 2^32-1 bytes.
       const ByteVector stream = max_expansion_stream(1000);
       ByteVector block(16, 0);
       block.insert(block.end(), stream.begin(), stream.end());
       const Descriptor profile = w.add_raw_profile_block(block, kAll, kAll);
       const Descriptor peak = w.add_raw_peak_block(filler(4096), 3, kAll);
       fill_table(w, Layout::k284, profile, peak);
     },
     {}},
    {"valid profile data, point count beyond it",
     [](testkit::DatasetWriter& w) {
       std::vector<std::uint32_t> intensities(1000, 7);
       const Descriptor real = w.add_profile_block(intensities);
       const Descriptor profile = claim(real, real.byte_count, kAll, real.uncompressed_byte_count);
       const Descriptor peak = w.add_raw_peak_block(filler(12 * 1000), 2, 1001);
       fill_table(w, Layout::k284, profile, peak);
     },
     {}},
    {"offsets at the end of the file and of the 64-bit range",
     [](testkit::DatasetWriter& w) {
       Descriptor profile = claim(w.add_raw_profile_block(filler(64), 0, 0), kAll, kAll, kAll);
       profile.offset = w.profile_file().size();
       Descriptor peak = claim(w.add_raw_peak_block(filler(64), 3, 0), kAll, kAll, 0);
       peak.offset = ~std::uint64_t{0};
       fill_table(w, Layout::k284, profile, peak);
     },
     {}},
    {"offsets just below 2^63",
     [](testkit::DatasetWriter& w) {
       Descriptor profile = claim(w.add_raw_profile_block(filler(64), 0, 0), kAll, kAll, kAll);
       profile.offset = (std::uint64_t{1} << 63) - 1;
       Descriptor peak = claim(w.add_raw_peak_block(filler(64), 3, 0), 1, kAll, 0);
       peak.offset = (std::uint64_t{1} << 63) - 1;
       fill_table(w, Layout::k284, profile, peak);
     },
     {}},
    {"4 GiB blocks in FIFOs that no one writes",
     [](testkit::DatasetWriter& w) {
       const Descriptor profile =
           claim(w.add_raw_profile_block(filler(64), 0, 0), kAll, kAll, kAll);
       const Descriptor peak = claim(w.add_raw_peak_block(filler(64), 3, 0), kAll, kAll, 0);
       fill_table(w, Layout::k284, profile, peak);
     },
     [](const std::filesystem::path& acq_data) {
       for (const char* name : {"MSPeak.bin", "MSProfile.bin"}) {
         std::filesystem::remove(acq_data / name);
         ASSERT_EQ(::mkfifo((acq_data / name).c_str(), 0600), 0);
       }
     }},
};

TEST(HostileCounts, OpenAndDrainInBoundedMemory) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    testkit::TempDir dir;
    {
      testkit::DatasetWriter writer;
      c.build(writer);
      writer.write(dir / "run.d");
      if (c.after_write) c.after_write(dir / "run.d" / "AcqData");
    }

    const MemoryWatch watch;
    const auto start = std::chrono::steady_clock::now();
    auto reader = Reader::open(dir / "run.d");
    ASSERT_TRUE(reader) << reader.error().text();
    ASSERT_EQ(reader->scans().records.size(), kScans);
    auto sequence = reader->iter_spectra();
    std::size_t produced = 0;
    std::size_t with_points = 0;
    std::size_t profile_decoded = 0;
    while (auto record = sequence->next()) {
      ++produced;
      if (!record->mz.empty() || !record->intensity.empty()) ++with_points;
      if (record->profile_decoded) ++profile_decoded;
    }
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;

    EXPECT_EQ(produced, kScans);
    EXPECT_EQ(with_points, 0U) << "every block's claim exceeds its data";
    EXPECT_EQ(profile_decoded, 0U);
    EXPECT_LT(watch.heap_growth(), kMemoryBound);
    if (kResidentSizeMeaningful) {
      EXPECT_LT(watch.rss_growth(), kMemoryBound);
    }
    std::printf(
        "[hostile] %-56s %4u scans  %7.1f ms per 1000 scans  heap peak +%zu KiB"
        "  rss peak +%zu KiB\n",
        c.name, kScans, 1000.0 * elapsed.count() * 1000.0 / kScans, watch.heap_growth() / 1024,
        watch.rss_growth() / 1024);
  }
}

}  // namespace
}  // namespace velmoran
