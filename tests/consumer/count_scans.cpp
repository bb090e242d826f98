// Opens a dataset with the installed library and prints its name and the
// number of spectra with data.
#include <iostream>

#include <velmoran/reader.hpp>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: count_scans DATASET\n";
    return 2;
  }
  auto reader = velmoran::Reader::open(argv[1]);
  if (!reader) {
    std::cerr << reader.error() << "\n";
    return 1;
  }
  std::size_t scans = 0;
  std::size_t with_data = 0;
  auto spectra = reader->iter_spectra();
  while (auto record = spectra->next()) {
    ++scans;
    if (!record->mz.empty()) ++with_data;
  }
  std::cout << reader->name() << ": " << scans << " scans, " << with_data << " with data\n";
  return 0;
}
