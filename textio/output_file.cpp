#include <velmoran/textio/output_file.hpp>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <utility>
#include <vector>

namespace velmoran::textio {

namespace {

// The process's umask, read without changing it for longer than needed.
mode_t current_umask() noexcept {
  const mode_t mask = ::umask(022);
  ::umask(mask);
  return mask;
}

}  // namespace

Result<OutputFile> OutputFile::open(const std::filesystem::path& target) {
  if (target == "-") return OutputFile(STDOUT_FILENO, false, target, {});
  const std::string& native = target.native();
  if (native.find('\0') != std::string::npos) return Error::os(EINVAL);

  struct stat info {};
  if (::stat(native.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
    if (S_ISDIR(info.st_mode)) return Error::os(EISDIR);
    // A device or a FIFO: write into it, never rename over it.
    const int fd = ::open(native.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) return Error::os(errno);
    return OutputFile(fd, true, target, {});
  }

  std::filesystem::path directory = target.parent_path();
  if (directory.empty()) directory = ".";
  // ".NAME.tmp-XXXXXX" beside the target, so rename() stays within one file system.
  std::string leaf(".");
  leaf.append(target.filename().native()).append(".tmp-XXXXXX");
  const std::filesystem::path pattern = directory / leaf;
  std::vector<char> name(pattern.native().begin(), pattern.native().end());
  name.push_back('\0');
  const int fd = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) return Error::os(errno);
  // mkstemp makes the file private; give it the mode a plain create would.
  if (::fchmod(fd, 0666 & ~current_umask()) != 0) {
    const int err = errno;
    ::close(fd);
    ::unlink(name.data());
    return Error::os(err);
  }
  return OutputFile(fd, true, target, std::filesystem::path(name.data()));
}

OutputFile::OutputFile(OutputFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      owns_fd_(std::exchange(other.owns_fd_, false)),
      target_(std::move(other.target_)),
      temporary_(std::exchange(other.temporary_, {})),
      filter_(std::move(other.filter_)),
      bytes_written_(other.bytes_written_),
      bytes_stored_(other.bytes_stored_) {}

OutputFile& OutputFile::operator=(OutputFile&& other) noexcept {
  if (this != &other) {
    discard();
    fd_ = std::exchange(other.fd_, -1);
    owns_fd_ = std::exchange(other.owns_fd_, false);
    target_ = std::move(other.target_);
    temporary_ = std::exchange(other.temporary_, {});
    filter_ = std::move(other.filter_);
    bytes_written_ = other.bytes_written_;
    bytes_stored_ = other.bytes_stored_;
  }
  return *this;
}

OutputFile::~OutputFile() { discard(); }

void OutputFile::discard() noexcept {
  if (owns_fd_ && fd_ >= 0) ::close(fd_);
  fd_ = -1;
  owns_fd_ = false;
  if (!temporary_.empty()) {
    ::unlink(temporary_.c_str());
    temporary_.clear();
  }
}

OutputFilter::~OutputFilter() = default;

void OutputFile::set_filter(std::unique_ptr<OutputFilter> filter) { filter_ = std::move(filter); }

Result<Done> OutputFile::write(std::string_view bytes) {
  bytes_written_ += bytes.size();
  if (filter_) return filter_->write(bytes, *this);
  return store(bytes);
}

Result<Done> OutputFile::store(std::string_view bytes) {
  if (fd_ < 0) return Error::os(EBADF);
  const char* p = bytes.data();
  std::size_t left = bytes.size();
  while (left > 0) {
    const ssize_t n = ::write(fd_, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      return Error::os(errno);
    }
    if (n == 0) return Error::os(EIO);
    p += n;
    left -= static_cast<std::size_t>(n);
    bytes_stored_ += static_cast<std::uint64_t>(n);
  }
  return Done{};
}

Result<Done> OutputFile::finish_filter() {
  if (!filter_) return Done{};
  auto finished = filter_->finish(*this);
  filter_.reset();
  return finished;
}

Result<Done> OutputFile::commit() {
  if (fd_ < 0) return Error::os(EBADF);
  if (auto finished = finish_filter(); !finished) {
    discard();
    return finished;
  }
  if (!owns_fd_) {
    // Standard output stays open; nothing is buffered on our side.
    fd_ = -1;
    return Done{};
  }
  const int fd = std::exchange(fd_, -1);
  owns_fd_ = false;
  if (::close(fd) != 0 && errno != EINTR) {
    const int err = errno;
    discard();
    return Error::os(err);
  }
  if (temporary_.empty()) return Done{};
  if (::rename(temporary_.c_str(), target_.c_str()) != 0) {
    const int err = errno;
    discard();
    return Error::os(err);
  }
  temporary_.clear();
  return Done{};
}

}  // namespace velmoran::textio
