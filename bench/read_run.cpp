// read_run RUN.d: the plain read of a run through the library (open,
// iter_spectra, next to the end, each record dropped as it comes), the
// yardstick of the velmoran commands in scripts/bench-inspect.sh.
#include <cstdio>

#include <velmoran/reader.hpp>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: read_run RUN.d\n");
    return 2;
  }
  auto reader = velmoran::Reader::open(argv[1]);
  if (!reader) {
    std::fprintf(stderr, "read_run: %s: %s\n", argv[1], reader.error().text().c_str());
    return 1;
  }
  auto spectra = reader->iter_spectra();
  unsigned long long points = 0;
  while (auto record = spectra->next()) points += record->mz.size();
  std::printf("%llu points\n", points);
  return 0;
}
