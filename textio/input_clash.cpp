#include <velmoran/textio/input_clash.hpp>

#include <sys/stat.h>

#include <algorithm>
#include <system_error>

namespace velmoran::textio {

namespace {

namespace fs = std::filesystem;

// The file of the run's AcqData that is the same file as `output`. Every
// entry is looked at with its links followed: the reader opens them by
// these names.
std::optional<InputClash> same_file_in_run(const struct stat& output, const fs::path& run) {
  std::error_code ec;
  for (fs::directory_iterator it(run / "AcqData", ec), end; !ec && it != end; it.increment(ec)) {
    struct stat info {};
    if (::stat(it->path().c_str(), &info) == 0 && info.st_dev == output.st_dev &&
        info.st_ino == output.st_ino) {
      return InputClash{run, it->path()};
    }
  }
  return std::nullopt;
}

// `inner` is `outer` or lies below it, component by component.
bool lies_inside(const fs::path& inner, const fs::path& outer) {
  return std::mismatch(outer.begin(), outer.end(), inner.begin(), inner.end()).first == outer.end();
}

}  // namespace

fs::path resolved_path(const fs::path& path) {
  // weakly_canonical leaves a relative path relative when no prefix of it
  // exists (a bare name): made absolute first, every path resolves alike.
  std::error_code ec;
  fs::path absolute = fs::absolute(path, ec);
  if (ec) absolute = path;
  fs::path full = fs::weakly_canonical(absolute, ec);
  if (ec) full = absolute.lexically_normal();
  return full;
}

std::string InputClash::text() const {
  if (file.empty()) return "inside the input run " + run.string() + ": not written there";
  return "the same file as " + file.string() + " of the input run " + run.string() +
         ": not overwritten";
}

std::optional<InputClash> find_input_clash(const fs::path& target,
                                           const std::vector<fs::path>& runs) {
  if (runs.empty()) return std::nullopt;
  struct stat info {};
  const bool exists = ::stat(target.c_str(), &info) == 0;
  const fs::path full = resolved_path(target);
  for (const fs::path& run : runs) {
    if (exists) {
      if (auto clash = same_file_in_run(info, run)) return clash;
    }
    // The run's directory and its AcqData, which may be a link to elsewhere.
    for (const fs::path& directory : {run, run / "AcqData"}) {
      std::error_code missing;
      const fs::path real = fs::canonical(directory, missing);
      if (!missing && lies_inside(full, real)) return InputClash{run, {}};
    }
  }
  return std::nullopt;
}

std::optional<InputClash> find_input_clash(int fd, const std::vector<fs::path>& runs) {
  struct stat info {};
  if (runs.empty() || ::fstat(fd, &info) != 0) return std::nullopt;
  for (const fs::path& run : runs) {
    if (auto clash = same_file_in_run(info, run)) return clash;
  }
  return std::nullopt;
}

}  // namespace velmoran::textio
