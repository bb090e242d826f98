#include <velmoran/textio/text_lines.hpp>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace velmoran::textio {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// Splits text into lines as they arrive, keeping only the unfinished one.
class LineSplitter {
 public:
  LineSplitter(std::string_view file_name, const LineVisitor& visit)
      : file_name_(file_name), visit_(visit) {}

  std::optional<Error> add(std::string_view chunk) {
    if (const auto nul = chunk.find('\0'); nul != std::string_view::npos) {
      const auto lines =
          std::count(chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(nul), '\n');
      return Error::parse(std::string(file_name_) + ":" +
                          std::to_string(line_number_ + 1 + static_cast<std::size_t>(lines)) +
                          ": a NUL byte; not a text file (UTF-8 or ASCII)");
    }
    while (!chunk.empty()) {
      const auto newline = chunk.find('\n');
      if (newline == std::string_view::npos) {
        if (pending_.size() + chunk.size() > kMaxLineBytes) return too_long(line_number_ + 1);
        pending_.append(chunk);
        return std::nullopt;
      }
      std::optional<Error> error;
      if (pending_.empty()) {
        error = line(chunk.substr(0, newline));
      } else {
        pending_.append(chunk.substr(0, newline));
        error = line(pending_);
        pending_.clear();
      }
      if (error) return error;
      chunk.remove_prefix(newline + 1);
    }
    return std::nullopt;
  }

  std::optional<Error> finish() {
    if (pending_.empty()) return std::nullopt;
    return line(pending_);
  }

 private:
  Error too_long(std::size_t number) const {
    return Error::parse(std::string(file_name_) + ":" + std::to_string(number) +
                        ": a line longer than " + std::to_string(kMaxLineBytes >> 20) + " MiB");
  }

  std::optional<Error> line(std::string_view text) {
    ++line_number_;
    if (text.size() > kMaxLineBytes) return too_long(line_number_);
    if (line_number_ == 1 && text.starts_with(kByteOrderMark)) {
      text.remove_prefix(kByteOrderMark.size());
    }
    if (text.ends_with('\r')) text.remove_suffix(1);
    return visit_(line_number_, text);
  }

  std::string_view file_name_;
  const LineVisitor& visit_;
  std::string pending_;
  std::size_t line_number_ = 0;
};

}  // namespace

std::optional<Error> for_each_line(std::string_view text, std::string_view file_name,
                                   const LineVisitor& visit) {
  LineSplitter lines(file_name, visit);
  if (auto error = lines.add(text)) return error;
  return lines.finish();
}

std::optional<Error> read_lines(const std::filesystem::path& file, std::uint64_t max_bytes,
                                const LineVisitor& visit) {
  const std::string name = file.string();
  const auto system_error = [&](int errnum) {
    return Error::parse(name + ": " + std::strerror(errnum), errnum);
  };
  const auto too_large = [&] {
    return Error::parse(name + ": more than " + std::to_string(max_bytes >> 20) +
                        " MiB, too large for this list");
  };
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return system_error(errno);
  const std::unique_ptr<const int, void (*)(const int*)> closing(&fd,
                                                                 [](const int* f) { ::close(*f); });
  struct stat info {};
  if (::fstat(fd, &info) != 0) return system_error(errno);
  if (S_ISDIR(info.st_mode)) return Error::parse(name + ": is a directory", EISDIR);
  if (S_ISREG(info.st_mode) && static_cast<std::uint64_t>(info.st_size) > max_bytes) {
    return too_large();
  }
  LineSplitter lines(name, visit);
  std::uint64_t total = 0;
  char chunk[1 << 16];
  while (true) {
    const ssize_t got = ::read(fd, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return system_error(errno);
    if (got == 0) break;
    total += static_cast<std::uint64_t>(got);
    if (total > max_bytes) return too_large();
    if (auto error = lines.add(std::string_view(chunk, static_cast<std::size_t>(got)))) {
      return error;
    }
  }
  return lines.finish();
}

}  // namespace velmoran::textio
