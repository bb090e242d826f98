// velmoran_fuzz_seeds OUTDIR: writes every target's seeds into
// OUTDIR/<target>/<seed>, the starting corpora of scripts/fuzz.sh.
#include <cstdio>
#include <exception>
#include <filesystem>

#include "dataset_writer.hpp"
#include "seeds.hpp"
#include "targets.hpp"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTDIR\n", argv[0]);
    return 2;
  }
  try {
    const std::filesystem::path out = argv[1];
    for (const auto& target : velmoran::fuzz::kTargets) {
      const auto dir = out / target.name;
      std::filesystem::create_directories(dir);
      for (const auto& seed : velmoran::fuzz::seeds_for(target.name)) {
        velmoran::testkit::write_file(dir / seed.name, seed.bytes);
      }
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "velmoran_fuzz_seeds: %s\n", e.what());
    return 1;
  }
  return 0;
}
