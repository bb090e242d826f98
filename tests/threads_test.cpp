// Several spectrum sequences over one Reader, on several threads at once,
// each produce the same records as a sequence drained alone; so do the
// worker threads of velmoran_arrays (spectra decoded ahead, flat peaks).
// Run it under ThreadSanitizer (the tsan preset) to check that they share
// nothing mutable unguarded.
#include <algorithm>
#include <cstring>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "dataset_writer.hpp"
#include <velmoran/analysis/decode_ahead.hpp>
#include <velmoran/analysis/gather_peaks.hpp>
#include <velmoran/reader.hpp>

namespace velmoran {
namespace {

using testkit::Layout;

// A run of profile and centroid scans, some of them damaged, so that the
// threads go through every path of record production.
void write_run(const std::filesystem::path& dataset, std::uint32_t scans) {
  testkit::DatasetWriter writer;
  writer.table().layout = Layout::k284;
  for (std::uint32_t i = 0; i < scans; ++i) {
    testkit::RecordSpec r;
    r.scan_id = i + 1;
    r.retention_time_min = 0.01 * i;
    r.ms_level = static_cast<std::uint16_t>(i % 4 == 0 ? 1 : 2);
    r.precursor_mz = 300.0 + i;
    r.mz_range_low = 100.0;
    r.mz_range_high = 1000.0;
    std::vector<double> mz;
    std::vector<float> intensity;
    for (std::uint32_t k = 0; k < 20 + i % 30; ++k) {
      mz.push_back(100.0 + 3.5 * k + i);
      intensity.push_back(static_cast<float>(k * i % 977));
    }
    if (i % 4 == 0) {
      std::vector<std::uint32_t> profile(200 + i % 100);
      for (std::size_t k = 0; k < profile.size(); ++k) {
        profile[k] = static_cast<std::uint32_t>((k * 31 + i) % 4000);
      }
      r.first = writer.add_profile_block(profile);
      if (i % 8 == 0) r.first.uncompressed_byte_count += 1;  // fails: falls back
    }
    r.second = writer.add_peak_block(i % 3 == 0 ? 2 : 3, mz, intensity);
    if (i % 13 == 0) r.second.byte_count -= 1;  // truncated peak list
    writer.table().records.push_back(r);
  }
  writer.write(dataset);
}

std::vector<quorlith::SpectrumRecord> drain(quorlith::SpectrumSequence& sequence) {
  std::vector<quorlith::SpectrumRecord> records;
  while (auto record = sequence.next()) records.push_back(std::move(*record));
  return records;
}

TEST(Threads, SequencesOverOneReaderAgree) {
  constexpr std::uint32_t kScans = 240;
  constexpr int kThreads = 4;
  testkit::TempDir dir;
  write_run(dir / "run.d", kScans);
  const auto reader = Reader::open(dir / "run.d");
  ASSERT_TRUE(reader) << reader.error().text();

  const auto alone = drain(*reader->iter_spectra());
  ASSERT_EQ(alone.size(), kScans);

  // Each thread drains sequences of its own; odd threads also skip ahead
  // with advance_by and nth, which produce and drop records as next does.
  std::vector<std::vector<quorlith::SpectrumRecord>> drained(kThreads);
  std::vector<std::optional<quorlith::SpectrumRecord>> picked(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      drained[static_cast<std::size_t>(t)] = drain(*reader->iter_spectra());
      if (t % 2 == 1) {
        auto sequence = reader->iter_spectra();
        // 7 records skipped, then 10 more: nth yields record 17.
        if (sequence->advance_by(7) == 0) picked[static_cast<std::size_t>(t)] = sequence->nth(10);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();

  for (int t = 0; t < kThreads; ++t) {
    SCOPED_TRACE(t);
    EXPECT_TRUE(drained[static_cast<std::size_t>(t)] == alone);
    if (t % 2 == 1) {
      ASSERT_TRUE(picked[static_cast<std::size_t>(t)].has_value());
      EXPECT_TRUE(*picked[static_cast<std::size_t>(t)] == alone[17]);
    }
  }
}

// Readers opened at once on several threads, over one dataset, agree too.
TEST(Threads, ConcurrentOpensAgree) {
  constexpr int kThreads = 4;
  testkit::TempDir dir;
  write_run(dir / "run.d", 60);
  const auto reference = Reader::open(dir / "run.d");
  ASSERT_TRUE(reference);
  const auto expected = drain(*reference->iter_spectra());

  std::vector<std::vector<quorlith::SpectrumRecord>> drained(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      if (auto reader = Reader::open(dir / "run.d")) {
        drained[static_cast<std::size_t>(t)] = drain(*reader->iter_spectra());
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (const auto& records : drained) EXPECT_TRUE(records == expected);
}

// Every other scan of a damaged run.
std::vector<std::size_t> every_other(std::size_t count) {
  std::vector<std::size_t> positions;
  for (std::size_t i = 1; i < count; i += 2) positions.push_back(i);
  return positions;
}

TEST(Threads, FlatPeaksOnAnyNumberOfThreadsAreTheSequencesArrays) {
  testkit::TempDir dir;
  write_run(dir / "run.d", 150);
  const auto reader = Reader::open(dir / "run.d");
  ASSERT_TRUE(reader);
  const auto alone = drain(*reader->iter_spectra());
  const auto positions = every_other(alone.size());
  for (const unsigned threads : {1U, 2U, 3U, 8U}) {
    SCOPED_TRACE(threads);
    const analysis::FlatPeaks flat = analysis::gather_peaks(*reader, positions, threads);
    ASSERT_EQ(flat.offsets.size(), positions.size() + 1);
    const auto* mz = static_cast<const double*>(flat.mz.get());
    const auto* intensity = static_cast<const float*>(flat.intensity.get());
    for (std::size_t k = 0; k < positions.size(); ++k) {
      const auto& want = alone[positions[k]];
      const auto begin = static_cast<std::size_t>(flat.offsets[k]);
      ASSERT_EQ(static_cast<std::size_t>(flat.offsets[k + 1]) - begin, want.mz.size());
      if (want.mz.empty()) continue;  // a damaged scan: no points, nothing to compare
      EXPECT_EQ(std::memcmp(mz + begin, want.mz.data(), want.mz.size() * sizeof(double)), 0);
      EXPECT_EQ(std::memcmp(intensity + begin, want.intensity.data(),
                            want.intensity.size() * sizeof(float)),
                0);
    }
    EXPECT_EQ(flat.points, static_cast<std::size_t>(flat.offsets.back()));
  }
}

TEST(Threads, SpectraDecodedAheadComeInOrderToConsumersThatShareThem) {
  testkit::TempDir dir;
  write_run(dir / "run.d", 120);
  const auto reader = Reader::open(dir / "run.d");
  ASSERT_TRUE(reader);
  const auto alone = drain(*reader->iter_spectra());
  const auto shared_reader = std::make_shared<const Reader>(*reader);
  const auto positions = every_other(alone.size());

  analysis::DecodeAhead ahead(shared_reader, positions, 3);
  std::vector<std::vector<std::uint64_t>> taken(3);
  std::vector<std::thread> consumers;
  for (std::size_t c = 0; c < taken.size(); ++c) {
    consumers.emplace_back([&, c] {
      while (auto spectrum = ahead.next()) {
        EXPECT_TRUE(spectrum->record == alone[spectrum->record.index]);
        taken[c].push_back(spectrum->record.index);
      }
    });
  }
  for (auto& consumer : consumers) consumer.join();
  // Each spectrum goes to one consumer, each consumer gets them in order.
  std::vector<std::uint64_t> every;
  for (const auto& part : taken) {
    EXPECT_TRUE(std::is_sorted(part.begin(), part.end()));
    every.insert(every.end(), part.begin(), part.end());
  }
  std::sort(every.begin(), every.end());
  EXPECT_EQ(every, std::vector<std::uint64_t>(positions.begin(), positions.end()));

  // Dropped half way, the workers stop.
  analysis::DecodeAhead dropped(shared_reader, positions, 4);
  EXPECT_TRUE(dropped.next().has_value());
}

}  // namespace
}  // namespace velmoran
