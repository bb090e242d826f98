// Our LZF decoder beside liblzf's, on the same profile streams, in one run;
// prints the throughput ratio (ours / liblzf) at the end.
//
// The streams: profile blocks of 20,000 points (Gaussian peaks on a noisy
// baseline with stretches of zeros, as 32-bit intensities after a 16-byte
// header), compressed by liblzf and, separately, by our test writer.
// Both decoders allocate their output per call, as a caller of either must;
// liblzf into one reused buffer is shown too.
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <lzf.h>

#include "dataset_writer.hpp"
#include "synthetic_run.hpp"
#include "raw/lzf.hpp"

namespace {

using velmoran::testkit::ByteVector;

constexpr std::size_t kScans = 64;
constexpr std::size_t kPointsPerScan = 20000;

struct Corpus {
  std::vector<ByteVector> payloads;
  std::vector<ByteVector> streams;
  std::size_t payload_bytes = 0;
  std::size_t stream_bytes = 0;
};

ByteVector liblzf_compress(const ByteVector& in) {
  ByteVector out(in.size() + in.size() / 16 + 64);
  const unsigned written = lzf_compress(in.data(), static_cast<unsigned>(in.size()), out.data(),
                                        static_cast<unsigned>(out.size()));
  if (written == 0) throw std::runtime_error("lzf_compress failed");
  out.resize(written);
  return out;
}

// Builds the corpus and checks that both decoders restore it.
Corpus make_corpus(bool by_liblzf) {
  Corpus corpus;
  for (std::size_t scan = 0; scan < kScans; ++scan) {
    const auto intensities = velmoran::testkit::synthetic_profile(kPointsPerScan, 1000 + scan);
    ByteVector payload = velmoran::testkit::profile_payload(intensities);
    ByteVector stream =
        by_liblzf ? liblzf_compress(payload) : velmoran::testkit::lzf_compress(payload);

    auto ours = velmoran::raw::decompress(stream, payload.size());
    ByteVector theirs(payload.size());
    const unsigned written = lzf_decompress(stream.data(), static_cast<unsigned>(stream.size()),
                                            theirs.data(), static_cast<unsigned>(theirs.size()));
    if (!ours || ByteVector(ours->data(), ours->data() + ours->size()) != payload ||
        written != payload.size() || theirs != payload) {
      throw std::runtime_error("a decoder does not restore the corpus");
    }
    corpus.payload_bytes += payload.size();
    corpus.stream_bytes += stream.size();
    corpus.payloads.push_back(std::move(payload));
    corpus.streams.push_back(std::move(stream));
  }
  return corpus;
}

const Corpus& corpus_of(bool by_liblzf) {
  static const Corpus liblzf_corpus = make_corpus(true);
  static const Corpus writer_corpus = make_corpus(false);
  return by_liblzf ? liblzf_corpus : writer_corpus;
}

void finish(benchmark::State& state, const Corpus& corpus) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(corpus.payload_bytes));
  state.counters["ratio"] =
      static_cast<double>(corpus.payload_bytes) / static_cast<double>(corpus.stream_bytes);
}

void Ours(benchmark::State& state, bool by_liblzf) {
  const Corpus& corpus = corpus_of(by_liblzf);
  for (auto _ : state) {
    for (std::size_t i = 0; i < corpus.streams.size(); ++i) {
      auto out = velmoran::raw::decompress(corpus.streams[i], corpus.payloads[i].size());
      benchmark::DoNotOptimize(out);
    }
  }
  finish(state, corpus);
}

void Liblzf(benchmark::State& state, bool by_liblzf) {
  const Corpus& corpus = corpus_of(by_liblzf);
  for (auto _ : state) {
    for (std::size_t i = 0; i < corpus.streams.size(); ++i) {
      const std::size_t size = corpus.payloads[i].size();
      auto out = std::make_unique_for_overwrite<std::uint8_t[]>(size);
      const unsigned written =
          lzf_decompress(corpus.streams[i].data(), static_cast<unsigned>(corpus.streams[i].size()),
                         out.get(), static_cast<unsigned>(size));
      benchmark::DoNotOptimize(written);
      benchmark::DoNotOptimize(out);
    }
  }
  finish(state, corpus);
}

void LiblzfReusedBuffer(benchmark::State& state, bool by_liblzf) {
  const Corpus& corpus = corpus_of(by_liblzf);
  ByteVector out(kPointsPerScan * 4 + 16);
  for (auto _ : state) {
    for (std::size_t i = 0; i < corpus.streams.size(); ++i) {
      const unsigned written =
          lzf_decompress(corpus.streams[i].data(), static_cast<unsigned>(corpus.streams[i].size()),
                         out.data(), static_cast<unsigned>(corpus.payloads[i].size()));
      benchmark::DoNotOptimize(written);
      benchmark::ClobberMemory();
    }
  }
  finish(state, corpus);
}

BENCHMARK_CAPTURE(Ours, liblzf_streams, true);
BENCHMARK_CAPTURE(Liblzf, liblzf_streams, true);
BENCHMARK_CAPTURE(LiblzfReusedBuffer, liblzf_streams, true);
BENCHMARK_CAPTURE(Ours, writer_streams, false);
BENCHMARK_CAPTURE(Liblzf, writer_streams, false);
BENCHMARK_CAPTURE(LiblzfReusedBuffer, writer_streams, false);

// The console report, remembering the least CPU time of each benchmark (over
// repetitions) so the ratios can be printed when all have run. CPU time, not
// wall time: the machine may be shared.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration || run.error_occurred) continue;
      const double time = run.GetAdjustedCPUTime();
      auto [it, inserted] = times_.try_emplace(run.benchmark_name(), time);
      if (!inserted && time < it->second) it->second = time;
    }
  }

  void print_ratios() const {
    std::printf("\nThroughput ratio, ours / liblzf (above 1: ours is faster)\n");
    for (const char* streams : {"liblzf_streams", "writer_streams"}) {
      const std::string suffix = std::string("/") + streams;
      const auto ours = times_.find("Ours" + suffix);
      for (const char* other : {"Liblzf", "LiblzfReusedBuffer"}) {
        const auto theirs = times_.find(other + suffix);
        if (ours == times_.end() || theirs == times_.end()) continue;
        std::printf("  %-15s vs %-19s %.2fx\n", streams, other, theirs->second / ours->second);
      }
    }
  }

 private:
  std::map<std::string, double> times_;
};

}  // namespace

int main(int argc, char** argv) {
#ifndef __OPTIMIZE__
  std::fprintf(stderr, "note: built without optimisation; measure in a Release tree\n");
#endif
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.print_ratios();
  benchmark::Shutdown();
  return 0;
}
