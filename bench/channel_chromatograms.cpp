// channel_chromatograms RUN.d [THREADS]: an MRM run's channel chromatograms
// through the library function every surface calls, beside bench/read_run's
// plain read in scripts/bench-mrm.sh.
#include <cstdio>
#include <cstdlib>

#include <velmoran/mrm/channel_chromatograms.hpp>
#include <velmoran/reader.hpp>

int main(int argc, char** argv) {
  if (argc != 2 && argc != 3) {
    std::fprintf(stderr, "usage: channel_chromatograms RUN.d [THREADS]\n");
    return 2;
  }
  auto reader = velmoran::Reader::open(argv[1]);
  if (!reader) {
    std::fprintf(stderr, "channel_chromatograms: %s: %s\n", argv[1], reader.error().text().c_str());
    return 1;
  }
  const unsigned threads =
      argc == 3 ? static_cast<unsigned>(std::strtoul(argv[2], nullptr, 10)) : 1;
  const auto chromatograms = velmoran::mrm::channel_chromatograms(*reader, threads);
  unsigned long long points = 0;
  for (const auto& chromatogram : chromatograms) points += chromatogram.rt_sec.size();
  std::printf("%zu channels, %llu points\n", chromatograms.size(), points);
  return 0;
}
