// The ordered pipeline over a run's spectra, and the conversion and XIC
// that run in it, on several threads: the same output as on one thread,
// spectra emitted in order, scratch space never shared by two threads at
// once. Run it under ThreadSanitizer (the tsan preset) too.
#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <oneapi/tbb/global_control.h>

#include <velmoran/export/convert.hpp>
#include <velmoran/inspect/xic.hpp>
#include <velmoran/pipeline/spectrum_pipeline.hpp>
#include <velmoran/reader.hpp>
#include <velmoran/textio/output_file.hpp>

#include "dataset_writer.hpp"

namespace velmoran {
namespace {

constexpr unsigned kThreads = 4;

// Profile survey scans and centroid fragment scans of varied sizes.
void write_run(const std::filesystem::path& dataset, std::uint32_t scans) {
  testkit::DatasetWriter writer;
  writer.table().layout = testkit::Layout::k284;
  for (std::uint32_t i = 0; i < scans; ++i) {
    testkit::RecordSpec r;
    r.scan_id = i + 1;
    r.retention_time_min = 0.01 * i;
    r.ms_level = static_cast<std::uint16_t>(i % 3 == 0 ? 1 : 2);
    r.precursor_mz = 300.0 + i;
    r.mz_range_low = 100.0;
    r.mz_range_high = 1000.0;
    std::vector<double> mz;
    std::vector<float> intensity;
    for (std::uint32_t k = 0; k < 20 + i % 50; ++k) {
      mz.push_back(100.0 + 7.5 * k + i % 5);
      intensity.push_back(static_cast<float>(k * i % 977));
    }
    if (i % 3 == 0) {
      std::vector<std::uint32_t> profile(300 + i % 200);
      for (std::size_t k = 0; k < profile.size(); ++k) {
        profile[k] = static_cast<std::uint32_t>((k * 31 + i) % 4000);
      }
      r.first = writer.add_profile_block(profile);
    }
    r.second = writer.add_peak_block(2, mz, intensity);
    writer.table().records.push_back(r);
  }
  writer.write(dataset);
}

std::string read_file(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class Pipeline : public ::testing::Test {
 protected:
  void SetUp() override {
    write_run(dir_ / "run.d", 150);
    auto opened = Reader::open(dir_ / "run.d");
    ASSERT_TRUE(opened) << opened.error().text();
    reader_.emplace(std::move(opened).value());
  }
  testkit::TempDir dir_;
  std::optional<Reader> reader_;
  // The test program, as the velmoran program does, allows more threads
  // than the machine has CPUs.
  tbb::global_control parallelism_{tbb::global_control::max_allowed_parallelism, kThreads};
};

TEST_F(Pipeline, EmitsInOrderWithScratchOfOneThreadAtATime) {
  std::vector<std::uint64_t> in_slot(pipeline::slot_count(kThreads));
  std::vector<std::atomic<int>> busy(kThreads);
  std::atomic<bool> shared = false;
  std::atomic<bool> bad_worker = false;
  std::vector<std::uint64_t> placed;
  std::vector<std::uint64_t> emitted;
  pipeline::SpectrumStages stages;
  stages.take = [&](quorlith::SpectrumRecord& record, std::size_t slot) {
    if (record.ms_level != 2) return false;
    in_slot[slot] = record.index;
    return true;
  };
  stages.work = [&](std::size_t, std::size_t worker) {
    if (worker >= kThreads) {
      bad_worker = true;
      return;
    }
    if (busy[worker].fetch_add(1) != 0) shared = true;
    volatile double spin = 0;
    for (int i = 0; i < 2000; ++i) spin = spin + i;
    busy[worker].fetch_sub(1);
  };
  stages.place = [&](std::size_t slot) { placed.push_back(in_slot[slot]); };
  stages.emit = [&](std::size_t slot) {
    emitted.push_back(in_slot[slot]);
    return true;
  };
  EXPECT_TRUE(pipeline::run_spectrum_pipeline(*reader_, kThreads, stages));
  EXPECT_FALSE(shared.load());
  EXPECT_FALSE(bad_worker.load());
  std::vector<std::uint64_t> fragments;
  for (std::uint64_t i = 0; i < 150; ++i) {
    if (i % 3 != 0) fragments.push_back(i);
  }
  EXPECT_EQ(emitted, fragments);
  EXPECT_EQ(placed, fragments);

  // A stop at the tenth spectrum: nothing emitted after it, and the run is
  // reported as not read to its end.
  emitted.clear();
  stages.emit = [&](std::size_t slot) {
    emitted.push_back(in_slot[slot]);
    return emitted.size() < 10;
  };
  EXPECT_FALSE(pipeline::run_spectrum_pipeline(*reader_, kThreads, stages));
  EXPECT_EQ(emitted, std::vector<std::uint64_t>(fragments.begin(), fragments.begin() + 10));
}

TEST_F(Pipeline, ConversionOnManyThreadsIsTheOneOnOne) {
  for (const auto format : {exporting::OutputFormat::kMzml, exporting::OutputFormat::kMgf}) {
    std::vector<std::string> outputs;
    for (const unsigned threads : {1u, kThreads}) {
      const auto target = dir_ / (std::string("out-") += std::to_string(threads));
      auto output = textio::OutputFile::open(target, {.sync = false});
      ASSERT_TRUE(output) << output.error().text();
      exporting::ConvertOptions options;
      options.format = format;
      options.threads = threads;
      options.compression = exporting::Compression::kNumpress;
      auto stats = exporting::convert_run(*reader_, *output, options);
      ASSERT_TRUE(stats) << stats.error().text();
      ASSERT_TRUE(output->commit());
      outputs.push_back(read_file(target));
    }
    EXPECT_GT(outputs[0].size(), 10000u);
    EXPECT_TRUE(outputs[0] == outputs[1]);
  }
}

TEST_F(Pipeline, ManyTargetsOnManyThreadsSumAsOneTargetAlone) {
  // 2,000 targets and more are worked out on every thread; one target
  // alone on the calling thread.
  const auto xic = [&](std::vector<inspect::Target> targets, const std::string& name) {
    inspect::XicQuery query;
    query.targets = std::move(targets);
    query.unit = inspect::ToleranceUnit::da;
    query.tolerance = 0.01;
    const auto target = dir_ / name;
    auto output = textio::OutputFile::open(target, {.sync = false});
    EXPECT_TRUE(output);
    EXPECT_TRUE(inspect::write_xic(*reader_, query, inspect::TextFormat::tsv, *output));
    EXPECT_TRUE(output->commit());
    return read_file(target);
  };
  std::vector<inspect::Target> targets;
  for (int k = 0; k < 2500; ++k) {
    std::string name(1, 't');
    name += std::to_string(k);
    targets.push_back({std::move(name), 100.0 + 0.25 * k});
  }
  const std::string all = xic(targets, "all.tsv");
  for (const std::size_t k : {0u, 600u, 2499u}) {
    const std::string alone = xic({targets[k]}, "alone.tsv");
    // Rows of target k in the long table, header first.
    std::string rows;
    std::size_t start = 0;
    while (start < all.size()) {
      const std::size_t end = all.find('\n', start) + 1;
      const std::string line = all.substr(start, end - start);
      if (start == 0 || line.starts_with(targets[k].name + "\t")) rows += line;
      start = end;
    }
    EXPECT_EQ(rows, alone) << targets[k].name;
  }
}

}  // namespace
}  // namespace velmoran
