// The floor of `velmoran convert --compression zlib`: read every spectrum
// from one sequence and zlib-compress and base64-encode both arrays with the
// converter's own code, on all threads, in the same ordered pipeline; no
// XML, no summaries, nothing written. The converter's time over this one is
// the cost of the mzML itself.
//
//   convert_floor RUN.d [THREADS]
//
// Prints the seconds and the base64 bytes produced.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <oneapi/tbb/global_control.h>

#include <velmoran/export/binary_encoding.hpp>
#include <velmoran/pipeline/spectrum_pipeline.hpp>
#include <velmoran/reader.hpp>

namespace ex = velmoran::exporting;
namespace pipeline = velmoran::pipeline;

namespace {

struct Slot {
  quorlith::SpectrumRecord record;
  std::string text;
};

// The encoder's scratch space, one per thread as the converter's.
struct Scratch {
  ex::ZlibCompressor zlib;
  ex::Bytes compressed;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: convert_floor RUN.d [THREADS]\n");
    return 2;
  }
  const unsigned threads =
      pipeline::thread_count(argc > 2 ? static_cast<unsigned>(std::atoi(argv[2])) : 0);
  auto reader = velmoran::Reader::open(argv[1]);
  if (!reader) {
    std::fprintf(stderr, "%s: %s\n", argv[1], reader.error().text().c_str());
    return 1;
  }
  // As the velmoran program: as many threads as asked for, even beyond the CPUs.
  tbb::global_control parallelism(tbb::global_control::max_allowed_parallelism, threads);
  const auto start = std::chrono::steady_clock::now();
  std::vector<Slot> slots(pipeline::slot_count(threads));
  std::vector<Scratch> scratch(threads);
  std::uint64_t bytes = 0;

  pipeline::SpectrumStages stages;
  stages.take = [&](quorlith::SpectrumRecord& record, std::size_t slot) {
    slots[slot].record = std::move(record);
    return true;
  };
  stages.work = [&](std::size_t index, std::size_t worker) {
    Slot& slot = slots[index];
    Scratch& own = scratch[worker];
    slot.text.clear();
    const auto& r = slot.record;
    own.zlib.compress(ex::raw_bytes(std::span<const double>(r.mz)), own.compressed);
    ex::append_base64(slot.text, own.compressed);
    own.zlib.compress(ex::raw_bytes(std::span<const float>(r.intensity)), own.compressed);
    ex::append_base64(slot.text, own.compressed);
    slot.record.mz = {};
    slot.record.intensity = {};
  };
  stages.emit = [&](std::size_t index) {
    bytes += slots[index].text.size();
    return true;
  };
  pipeline::run_spectrum_pipeline(*reader, threads, stages);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%.3f s, %llu base64 bytes, %u threads\n", seconds,
              static_cast<unsigned long long>(bytes), threads);
  return 0;
}
