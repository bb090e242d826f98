#include <velmoran/reader.hpp>

#include <string_view>
#include <sys/stat.h>

#include "raw/file_access.hpp"
#include "utf8_lossy.hpp"

namespace velmoran {

namespace {

// The final component of the path, ignoring trailing separators and "."
// components; "bundle.d" where there is none (empty, root, ".", "..").
std::string dataset_name(const std::filesystem::path& path) {
  const std::string_view text = path.native();
  std::string_view last;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find('/', start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view component = text.substr(start, end - start);
    if (!component.empty() && component != ".") last = component;
    start = end + 1;
  }
  if (last.empty() || last == "..") return "bundle.d";
  return utf8_lossy(last);
}

}  // namespace

Result<Reader> Reader::open(const std::filesystem::path& path) {
  std::filesystem::path owned = path;
  const std::filesystem::path acq_data = owned / "AcqData";
  // Any entry of that name passes; the system's reason for a failed query
  // (missing, permission, dangling link) is not reported. A path holding a
  // NUL names no entry: the system would read only its part before the NUL,
  // another dataset.
  struct stat info{};
  if (raw::holds_nul(acq_data) || ::stat(acq_data.c_str(), &info) != 0) {
    return Error::parse("AcqData directory not found");
  }

  auto scans = raw::MSScan::from_path(acq_data / "MSScan.bin");
  if (!scans) return std::move(scans).error();

  std::string name = dataset_name(owned);
  return Reader(std::move(owned), std::move(name), std::move(scans).value(),
                acq_data / "MSPeak.bin", acq_data / "MSProfile.bin");
}

}  // namespace velmoran
