// e2e_bench: the time to read a whole run through the library, beside the
// floor measured in the same process on the same files.
//
//   e2e_bench [--reps N] [--stream] [--open-per-block] [--own-lzf] [--floor-only] [--tsv]
//             RUN.d...
//
// Library: Reader::open, iter_spectra, next until the end, every record
// kept in a vector reserved from size_hint (what RawReader(path) does).
// Floor (e2e_floor.hpp): the same blocks read with pread through one handle
// per file, expanded by liblzf, converted by plain loops into arrays
// allocated once at their final size, and kept likewise.
//
// The files are read once first so that they are in the page cache; then
// one untimed pass of each checks that both produce the same arrays bit for
// bit. Each repetition times the floor and then the library; the table
// shows the best (and the median) wall-clock time of the repetitions, their
// ratio library / floor, the ratio of the least CPU times (steadier on a
// shared machine) and the page faults of the fastest repetition. Kept
// records are released outside the timed region.
//
// --stream drops each record (and each floor spectrum) as soon as it is
// made. --open-per-block makes the floor open and close the file around
// every block, as the library must. --own-lzf makes the floor expand the
// profile streams with the library's LZF decoder, which is faster than
// liblzf's: the tighter floor, of everything but the decoder. --floor-only times the floor alone;
// with --tsv every run gives one line of tab-separated fields:
//   floor  RUN  SCANS  POINTS  BEST  MEDIAN  BEST_CPU
// in seconds (with the library too, its BEST MEDIAN BEST_CPU after them).
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <ctime>
#include <malloc.h>
#include <string>
#include <string_view>
#include <vector>

#include <sys/resource.h>

#include <quorlith/types.hpp>

#include "e2e_floor.hpp"
#include <velmoran/reader.hpp>

namespace {

using velmoran::bench::FloorOptions;
using velmoran::bench::FloorPlan;
using velmoran::bench::FloorSpectrum;

struct Options {
  int reps = 7;
  bool keep = true;
  bool open_per_block = false;
  bool own_lzf = false;
  bool floor_only = false;
  bool tsv = false;
  std::vector<std::filesystem::path> runs;
};

[[noreturn]] void usage(const char* problem) {
  std::fprintf(stderr,
               "e2e_bench: %s\nusage: e2e_bench [--reps N] [--stream] [--open-per-block] "
               "[--own-lzf] [--floor-only] [--tsv] RUN.d...\n",
               problem);
  std::exit(2);
}

Options parse_options(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--reps" && i + 1 < argc) {
      options.reps = std::atoi(argv[++i]);
      if (options.reps < 1) usage("--reps takes a positive count");
    } else if (arg == "--stream") {
      options.keep = false;
    } else if (arg == "--open-per-block") {
      options.open_per_block = true;
    } else if (arg == "--own-lzf") {
      options.own_lzf = true;
    } else if (arg == "--floor-only") {
      options.floor_only = true;
    } else if (arg == "--tsv") {
      options.tsv = true;
    } else if (arg.starts_with("--")) {
      usage("unknown option");
    } else {
      options.runs.emplace_back(arg);
    }
  }
  if (options.runs.empty()) usage("no run given");
  return options;
}

// Reads every file of the run once, so that the timed reads find them in
// the page cache.
void warm_page_cache(const std::filesystem::path& run) {
  std::vector<char> chunk(std::size_t{1} << 20);
  for (const char* name : {"MSScan.bin", "MSProfile.bin", "MSPeak.bin"}) {
    std::ifstream file(run / "AcqData" / name, std::ios::binary);
    while (file.read(chunk.data(), static_cast<std::streamsize>(chunk.size()))) {
    }
  }
}

std::vector<quorlith::SpectrumRecord> drain_library(const std::filesystem::path& run, bool keep) {
  auto reader = velmoran::Reader::open(run);
  if (!reader) {
    std::fprintf(stderr, "e2e_bench: %s: %s\n", run.c_str(), reader.error().text().c_str());
    std::exit(1);
  }
  const auto sequence = reader->iter_spectra();
  std::vector<quorlith::SpectrumRecord> records;
  if (keep) {
    records.reserve(sequence->size_hint().lower);
    while (auto record = sequence->next()) records.push_back(std::move(*record));
  } else {
    while (auto record = sequence->next()) {
    }
  }
  return records;
}

// Both produce the same arrays, bit for bit, for every scan.
void check_same(const std::filesystem::path& run,
                const std::vector<quorlith::SpectrumRecord>& records,
                const std::vector<FloorSpectrum>& floor) {
  bool same = records.size() == floor.size();
  for (std::size_t i = 0; same && i < records.size(); ++i) {
    const auto& record = records[i];
    const FloorSpectrum& spectrum = floor[i];
    same = record.mz.size() == spectrum.size && record.intensity.size() == spectrum.size &&
           (spectrum.size == 0 || (std::memcmp(record.mz.data(), spectrum.mz.get(),
                                               spectrum.size * sizeof(double)) == 0 &&
                                   std::memcmp(record.intensity.data(), spectrum.intensity.get(),
                                               spectrum.size * sizeof(float)) == 0));
  }
  if (!same) {
    std::fprintf(stderr, "e2e_bench: %s: the library and the floor disagree\n", run.c_str());
    std::exit(1);
  }
}

long minor_faults() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_minflt;
}

// CPU time of this process (user and system), which other programs on a
// shared machine disturb less than the wall clock.
double cpu_seconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

struct Sample {
  double seconds = 0.0;
  double cpu = 0.0;
  long faults = 0;
};

// Times one call of `work`. Its result (kept records or arrays) is released
// after the clock stops, and the freed memory is handed back to the system,
// so that every repetition starts as a fresh process does: with the memory
// of its arrays still to be faulted in.
template <class Work>
Sample sample_of(Work&& work) {
  Sample sample;
  {
    const long faults_before = minor_faults();
    const double cpu_before = cpu_seconds();
    const auto start = std::chrono::steady_clock::now();
    const auto result = work();
    const auto stop = std::chrono::steady_clock::now();
    sample.seconds = std::chrono::duration<double>(stop - start).count();
    sample.cpu = cpu_seconds() - cpu_before;
    sample.faults = minor_faults() - faults_before;
  }
  malloc_trim(0);
  return sample;
}

struct Timing {
  // Wall clock.
  double best = 0.0;
  double median = 0.0;
  // The least CPU time of any repetition.
  double best_cpu = 0.0;
  // Page faults of the fastest repetition.
  long faults = 0;
};

Timing summarise(std::vector<Sample> samples) {
  if (samples.empty()) return {};
  std::sort(samples.begin(), samples.end(),
            [](const Sample& a, const Sample& b) { return a.seconds < b.seconds; });
  const std::size_t n = samples.size();
  const double median = n % 2 == 1 ? samples[n / 2].seconds
                                   : (samples[n / 2 - 1].seconds + samples[n / 2].seconds) / 2.0;
  double best_cpu = samples.front().cpu;
  for (const Sample& sample : samples) best_cpu = std::min(best_cpu, sample.cpu);
  return {samples.front().seconds, median, best_cpu, samples.front().faults};
}

struct RunResult {
  std::size_t scans = 0;
  std::uint64_t points = 0;
  std::uint64_t block_bytes = 0;
  Timing floor;
  Timing library;
};

RunResult measure(const std::filesystem::path& run, const Options& options) {
  warm_page_cache(run);
  const FloorPlan plan = velmoran::bench::make_floor_plan(run);
  FloorOptions floor_options;
  floor_options.open_per_block = options.open_per_block;
  floor_options.own_lzf = options.own_lzf;
  floor_options.keep = options.keep;

  RunResult result;
  result.scans = plan.scans.size();
  {
    // Untimed: check the two agree (and warm the allocator).
    FloorOptions keeping = floor_options;
    keeping.keep = true;
    const auto floor = velmoran::bench::run_floor(plan, keeping);
    for (const FloorSpectrum& spectrum : floor) result.points += spectrum.size;
    for (const auto& scan : plan.scans) {
      if (scan.profile) result.block_bytes += scan.profile->byte_count;
      if (scan.peak) result.block_bytes += scan.peak->byte_count;
    }
    if (!options.floor_only) check_same(run, drain_library(run, true), floor);
  }

  malloc_trim(0);
  std::vector<Sample> floor_samples;
  std::vector<Sample> library_samples;
  for (int rep = 0; rep < options.reps; ++rep) {
    floor_samples.push_back(
        sample_of([&] { return velmoran::bench::run_floor(plan, floor_options); }));
    if (!options.floor_only) {
      library_samples.push_back(sample_of([&] { return drain_library(run, options.keep); }));
    }
  }
  result.floor = summarise(floor_samples);
  result.library = summarise(library_samples);
  return result;
}

void print_heading(const Options& options) {
  std::printf("Whole-run read, best of %d repetitions (median in brackets), records %s.\n",
              options.reps, options.keep ? "kept" : "dropped as they come");
  std::printf("Floor: %s, %s, plain conversion into arrays allocated at final size.\n",
              options.open_per_block ? "open+pread+close per block" : "one pread per block",
              options.own_lzf ? "the library's LZF decoder" : "liblzf");
  if (options.floor_only) {
    std::printf("%-28s %7s %11s %9s %18s %8s\n", "run", "scans", "points", "MiB read", "floor ms",
                "faults");
  } else {
    std::printf("%-28s %7s %11s %9s %18s %9s %18s %14s %9s %17s\n", "run", "scans", "points",
                "MiB read", "library ms", "ns/point", "floor ms", "library/floor", "CPU ratio",
                "faults lib/floor");
  }
}

void print_row(const std::filesystem::path& run, const RunResult& r, const Options& options) {
  const double mib = static_cast<double>(r.block_bytes) / (1024.0 * 1024.0);
  if (options.tsv) {
    std::printf("floor\t%s\t%zu\t%llu\t%.6f\t%.6f\t%.6f", run.c_str(), r.scans,
                static_cast<unsigned long long>(r.points), r.floor.best, r.floor.median,
                r.floor.best_cpu);
    if (!options.floor_only) {
      std::printf("\t%.6f\t%.6f\t%.6f", r.library.best, r.library.median, r.library.best_cpu);
    }
    std::printf("\n");
    return;
  }
  const std::string name = run.string();
  std::printf("%-28s %7zu %11llu %9.1f", name.c_str(), r.scans,
              static_cast<unsigned long long>(r.points), mib);
  if (!options.floor_only) {
    std::printf(" %8.1f (%7.1f) %9.2f", r.library.best * 1e3, r.library.median * 1e3,
                r.points == 0 ? 0.0 : r.library.best * 1e9 / static_cast<double>(r.points));
  }
  std::printf(" %8.1f (%7.1f)", r.floor.best * 1e3, r.floor.median * 1e3);
  if (!options.floor_only) {
    std::printf(" %6.3f (%5.3f) %9.3f %8ld/%8ld\n", r.library.best / r.floor.best,
                r.library.median / r.floor.median, r.library.best_cpu / r.floor.best_cpu,
                r.library.faults, r.floor.faults);
  } else {
    std::printf(" %8ld\n", r.floor.faults);
  }
}

}  // namespace

int main(int argc, char** argv) {
#ifndef __OPTIMIZE__
  std::fprintf(stderr, "note: built without optimisation; measure in a Release tree\n");
#endif
  const Options options = parse_options(argc, argv);
  if (!options.tsv) print_heading(options);
  for (const auto& run : options.runs) {
    const RunResult result = measure(run, options);
    print_row(run, result, options);
    std::fflush(stdout);
  }
  return 0;
}
