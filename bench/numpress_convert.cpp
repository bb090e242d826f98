// `velmoran convert --compression numpress` as a library call, built twice:
// numpress_convert as the program is (numpress from the reference
// MS-Numpress library), numpress_convert_own with our own encoders behind
// the same interface (numpress_own.cpp). Both write the same bytes. Run them
// side by side: scripts/bench-numpress.sh.
//
//   numpress_convert RUN.d OUT.mzML [THREADS]
#include <cstdio>
#include <cstdlib>

#include <velmoran/export/convert.hpp>
#include <velmoran/textio/output_file.hpp>
#include <velmoran/reader.hpp>

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: numpress_convert RUN.d OUT.mzML [THREADS]\n");
    return 2;
  }
  auto reader = velmoran::Reader::open(argv[1]);
  if (!reader) {
    std::fprintf(stderr, "%s: %s\n", argv[1], reader.error().text().c_str());
    return 1;
  }
  auto output = velmoran::textio::OutputFile::open(argv[2]);
  if (!output) {
    std::fprintf(stderr, "%s: %s\n", argv[2], output.error().text().c_str());
    return 1;
  }
  velmoran::exporting::ConvertOptions options;
  options.compression = velmoran::exporting::Compression::kNumpress;
  options.threads = argc > 3 ? static_cast<unsigned>(std::atoi(argv[3])) : 0;
  auto stats = velmoran::exporting::convert_run(*reader, *output, options);
  if (stats) {
    if (auto committed = output->commit(); !committed) stats = std::move(committed).error();
  }
  if (!stats) {
    std::fprintf(stderr, "%s: %s\n", argv[2], stats.error().text().c_str());
    return 1;
  }
  return 0;
}
