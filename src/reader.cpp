#include <velmoran/reader.hpp>

#include <cerrno>
#include <sys/stat.h>

#include "dataset_name.hpp"
#include "raw/file_access.hpp"

namespace velmoran {

Result<Reader> Reader::open(const std::filesystem::path& path) {
  std::filesystem::path owned = path;
  const std::filesystem::path acq_data = owned / "AcqData";
  // Any entry of that name passes; the system's reason for a failed query
  // (missing, permission, dangling link) is not in the text, but callers
  // that report errors by number get it from os_error(). A path holding a
  // NUL names no entry: the system would read only its part before the NUL,
  // another dataset.
  if (raw::holds_nul(acq_data)) return Error::parse("AcqData directory not found", EINVAL);
  struct stat info {};
  if (::stat(acq_data.c_str(), &info) != 0) {
    return Error::parse("AcqData directory not found", errno);
  }

  auto scans = raw::MSScan::from_path(acq_data / "MSScan.bin");
  if (!scans) return std::move(scans).error();

  std::string name = dataset_name(owned);
  return Reader(std::move(owned), std::move(name), std::move(scans).value(),
                acq_data / "MSPeak.bin", acq_data / "MSProfile.bin");
}

std::string Reader::name_of(const std::filesystem::path& path) { return dataset_name(path); }

}  // namespace velmoran
