// gzip_file IN OUT THREADS [LEVEL]: compresses a file with the converter's parallel
// gzip stream (the same code as `velmoran convert -o run.mzML.gz`), the
// figure set beside `gzip -6` of the same file in scripts/bench-peaks.sh.
#include <charconv>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include <velmoran/export/parallel_gzip.hpp>
#include <velmoran/textio/output_file.hpp>

int main(int argc, char** argv) {
  if (argc != 4 && argc != 5) {
    std::fprintf(stderr, "usage: gzip_file IN OUT THREADS [LEVEL]\n");
    return 2;
  }
  int level = velmoran::exporting::kGzipLevel;
  if (argc == 5) {
    const std::string_view text(argv[4]);
    std::from_chars(text.data(), text.data() + text.size(), level);
  }
  unsigned threads = 0;
  const std::string_view count(argv[3]);
  std::from_chars(count.data(), count.data() + count.size(), threads);
  std::ifstream in(argv[1], std::ios::binary);
  auto out = velmoran::textio::OutputFile::open(argv[2]);
  if (!in || !out) {
    std::fprintf(stderr, "gzip_file: cannot open the files\n");
    return 1;
  }
  out->set_filter(velmoran::exporting::make_gzip_filter(threads, level));
  std::vector<char> buffer(std::size_t{4} << 20);
  while (in) {
    in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    const auto got = static_cast<std::size_t>(in.gcount());
    if (got == 0) break;
    if (!out->write(std::string_view(buffer.data(), got))) return 1;
  }
  if (!out->commit()) return 1;
  return 0;
}
