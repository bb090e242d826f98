#include "raw/file_access.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace velmoran::raw {

namespace {

// Owns a file descriptor; closes it on every path.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) noexcept : fd_(fd) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  [[nodiscard]] int get() const noexcept { return fd_; }

 private:
  int fd_;
};

// Fills `out` completely with the file's bytes from `offset` on: short
// reads continue where the previous read stopped, a read interrupted by a
// signal is repeated, and end of file before the buffer is full is an
// error. pread reads at a position of its own, so no seek precedes it.
[[nodiscard]] std::optional<Error> fill_at(int fd, std::uint8_t* out, std::size_t length,
                                           std::uint64_t offset) {
  // read() may not be asked for more than SSIZE_MAX bytes at once.
  constexpr std::size_t kMaxChunk = std::size_t{1} << 30;
  std::size_t filled = 0;
  while (filled < length) {
    const std::size_t want = std::min(length - filled, kMaxChunk);
    const ssize_t got = ::pread(fd, out + filled, want, static_cast<off_t>(offset + filled));
    if (got > 0) {
      filled += static_cast<std::size_t>(got);
    } else if (got == 0) {
      return Error::unexpected_eof();
    } else if (errno != EINTR) {
      return Error::os(errno);
    }
  }
  return std::nullopt;
}

// One read of up to `length` bytes at the descriptor's position: the count
// read, 0 at the end of the file. A read interrupted by a signal is
// repeated; a FIFO whose writer has written nothing yet fails with EAGAIN
// rather than waiting.
[[nodiscard]] Result<std::size_t> read_some(int fd, std::uint8_t* out, std::size_t length) {
  // read() may not be asked for more than SSIZE_MAX bytes at once.
  constexpr std::size_t kMaxChunk = std::size_t{1} << 30;
  while (true) {
    const ssize_t got = ::read(fd, out, std::min(length, kMaxChunk));
    if (got >= 0) return static_cast<std::size_t>(got);
    if (errno != EINTR) return Error::os(errno);
  }
}

// Opens without blocking: a FIFO in a data file's place would otherwise
// stall the open until some writer came, and a device a read. Regular files
// and directories ignore the flag.
int open_file(const std::filesystem::path& path) noexcept {
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

}  // namespace

Result<Bytes> read_bytes(const std::filesystem::path& path, std::uint64_t offset,
                         std::size_t length) {
  if (holds_nul(path)) return Error::os(EINVAL);
  const FileDescriptor file(open_file(path));
  if (file.get() < 0) return Error::os(errno);

  // Positions are signed: 2^63 and above is refused as invalid, as a seek
  // there would be.
  if (offset > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) {
    return Error::os(EINVAL);
  }
  // With nothing to read, the seek is all there is, and only it can fail
  // (on a file that cannot seek). Otherwise pread both seeks and reads, and
  // reports a file that cannot seek with the same error as the seek would.
  if (length == 0) {
    if (::lseek(file.get(), static_cast<off_t>(offset), SEEK_SET) < 0) return Error::os(errno);
    return Bytes();
  }

  // A block descriptor may claim up to 4 GiB. For a regular file, learn its
  // size first and refuse a block that reaches past its end before
  // allocating anything for it.
  struct stat info {};
  if (::fstat(file.get(), &info) == 0 && S_ISREG(info.st_mode)) {
    const auto size = static_cast<std::uint64_t>(info.st_size);
    if (offset > size || length > size - offset) return Error::unexpected_eof();
  } else {
    // Anything else has no size to check. A read of nothing fails as the
    // real read would (a pipe cannot be positioned, a directory cannot be
    // read), so that error comes before the claimed length is allocated.
    std::uint8_t none = 0;
    if (::pread(file.get(), &none, 0, static_cast<off_t>(offset)) < 0) return Error::os(errno);
  }

  Bytes buffer(length);
  if (auto failure = fill_at(file.get(), buffer.data(), length, offset)) {
    return std::move(*failure);
  }
  return buffer;
}

Result<Bytes> read_file(const std::filesystem::path& path) {
  if (holds_nul(path)) return Error::os(EINVAL);
  const FileDescriptor file(open_file(path));
  if (file.get() < 0) return Error::os(errno);
  struct stat info {};
  if (::fstat(file.get(), &info) != 0) return Error::os(errno);
  if (S_ISDIR(info.st_mode)) return Error::os(EISDIR);
  return read_to_end(file.get(), static_cast<std::size_t>(std::max<off_t>(info.st_size, 0)));
}

Result<Bytes> read_to_end(int fd, std::size_t size_hint) {
  // A file that reports no size gets a first buffer of this many bytes.
  constexpr std::size_t kUnknownSizeBuffer = std::size_t{64} << 10;
  // Once the buffer is full, a read into this much stack tells the end of
  // the file from more data without growing the buffer first.
  constexpr std::size_t kProbe = 4096;

  Bytes buffer(size_hint > 0 ? size_hint : kUnknownSizeBuffer);
  std::size_t filled = 0;
  while (true) {
    if (filled < buffer.size()) {
      const auto got = read_some(fd, buffer.data() + filled, buffer.size() - filled);
      if (!got) return std::move(got).error();
      if (*got == 0) break;
      filled += *got;
      continue;
    }
    std::uint8_t probe[kProbe];
    const auto got = read_some(fd, probe, kProbe);
    if (!got) return std::move(got).error();
    if (*got == 0) break;
    Bytes larger(std::max(filled * 2, filled + kProbe));
    std::memcpy(larger.data(), buffer.data(), filled);
    std::memcpy(larger.data() + filled, probe, *got);
    filled += *got;
    buffer = std::move(larger);
  }
  buffer.truncate(filled);
  return buffer;
}

bool holds_nul(const std::filesystem::path& path) noexcept {
  return path.native().find('\0') != std::filesystem::path::string_type::npos;
}

}  // namespace velmoran::raw
