// The floor of `velmoran convert --compression zlib`: read every spectrum
// from one sequence and zlib-compress and base64-encode both arrays with the
// converter's own code, on all threads, in the same ordered pipeline; no
// XML, no summaries, nothing written. The converter's time over this one is
// the cost of the mzML itself.
//
//   convert_floor RUN.d [THREADS]
//
// Prints the seconds and the base64 bytes produced.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <oneapi/tbb/global_control.h>
#include <oneapi/tbb/parallel_pipeline.h>
#include <oneapi/tbb/task_arena.h>

#include <velmoran/export/binary_encoding.hpp>
#include <velmoran/reader.hpp>

namespace ex = velmoran::exporting;

namespace {

struct Slot {
  quorlith::SpectrumRecord record;
  ex::ZlibCompressor zlib;
  ex::Bytes compressed;
  std::string text;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: convert_floor RUN.d [THREADS]\n");
    return 2;
  }
  const unsigned threads = argc > 2 ? static_cast<unsigned>(std::atoi(argv[2]))
                                    : std::max(1u, std::thread::hardware_concurrency());
  auto reader = velmoran::Reader::open(argv[1]);
  if (!reader) {
    std::fprintf(stderr, "%s: %s\n", argv[1], reader.error().text().c_str());
    return 1;
  }
  const auto start = std::chrono::steady_clock::now();
  const std::size_t slot_count = std::size_t{4} * threads;
  std::vector<std::unique_ptr<Slot>> slots;
  for (std::size_t i = 0; i < slot_count; ++i) slots.push_back(std::make_unique<Slot>());
  auto sequence = reader->iter_spectra();
  std::uint64_t produced = 0;
  std::uint64_t bytes = 0;

  tbb::global_control parallelism(tbb::global_control::max_allowed_parallelism, threads);
  tbb::task_arena arena(static_cast<int>(threads));
  arena.execute([&] {
    tbb::parallel_pipeline(
        slot_count,
        tbb::make_filter<void, Slot*>(tbb::filter_mode::serial_in_order,
                                      [&](tbb::flow_control& control) -> Slot* {
                                        auto record = sequence->next();
                                        if (!record) {
                                          control.stop();
                                          return nullptr;
                                        }
                                        Slot* slot = slots[produced++ % slot_count].get();
                                        slot->record = std::move(*record);
                                        return slot;
                                      }) &
            tbb::make_filter<Slot*, Slot*>(
                tbb::filter_mode::parallel,
                [](Slot* slot) {
                  slot->text.clear();
                  const auto& r = slot->record;
                  slot->zlib.compress(ex::raw_bytes(std::span<const double>(r.mz)),
                                      slot->compressed);
                  ex::append_base64(slot->text, slot->compressed);
                  slot->zlib.compress(ex::raw_bytes(std::span<const float>(r.intensity)),
                                      slot->compressed);
                  ex::append_base64(slot->text, slot->compressed);
                  slot->record.mz = {};
                  slot->record.intensity = {};
                  return slot;
                }) &
            tbb::make_filter<Slot*, void>(tbb::filter_mode::serial_in_order,
                                          [&](Slot* slot) { bytes += slot->text.size(); }));
  });
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%.3f s, %llu base64 bytes, %u threads\n", seconds,
              static_cast<unsigned long long>(bytes), threads);
  return 0;
}
