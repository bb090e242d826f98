#include <velmoran/textio/output_file.hpp>

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <string>
#include <system_error>
#include <utility>

#include <velmoran/textio/interrupt_cleanup.hpp>

namespace velmoran::textio {

namespace {

// How many symbolic links in a row are followed, as the kernel does.
constexpr int kMaxLinks = 40;
// The longest file name most file systems hold.
constexpr std::size_t kNameMax = NAME_MAX;

// Names made so far, so that names made without the random source differ.
std::atomic<std::uint64_t> g_names{0};

bool same_file_as_standard_output(const struct stat& info) {
  struct stat out {};
  return ::fstat(STDOUT_FILENO, &out) == 0 && out.st_dev == info.st_dev &&
         out.st_ino == info.st_ino;
}

// The file that `target` names once the symbolic links of its last
// component are followed (to a file that may not exist yet).
Result<std::filesystem::path> resolve_links(const std::filesystem::path& target) {
  std::filesystem::path current = target;
  for (int hops = 0; hops <= kMaxLinks; ++hops) {
    struct stat info {};
    if (::lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return current;
    std::array<char, PATH_MAX> text{};
    const ssize_t length = ::readlink(current.c_str(), text.data(), text.size());
    if (length < 0) return Error::os(errno);
    if (static_cast<std::size_t>(length) >= text.size()) return Error::os(ENAMETOOLONG);
    const std::filesystem::path link(std::string(text.data(), static_cast<std::size_t>(length)));
    current = link.is_absolute() ? link : current.parent_path() / link;
  }
  return Error::os(ELOOP);
}

// Under /dev or /proc, where nothing is renamed over.
bool under_system_tree(const std::filesystem::path& path) {
  const std::filesystem::path full = resolved_path(path);
  const std::string& text = full.native();
  for (const std::string_view root : {"/dev", "/proc"}) {
    if (text.starts_with(root) && (text.size() == root.size() || text[root.size()] == '/')) {
      return true;
    }
  }
  return false;
}

// ".NAME.tmp-XXXXXX" beside `destination`, the name shortened to fit.
std::filesystem::path temporary_name(const std::filesystem::path& destination) {
  static constexpr std::string_view kLetters =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  static constexpr std::string_view kSuffix = ".tmp-";
  constexpr std::size_t kRandom = 6;
  std::string leaf(".");
  const std::string name = destination.filename().native();
  leaf.append(name, 0, std::min(name.size(), kNameMax - 1 - kSuffix.size() - kRandom));
  leaf += kSuffix;
  std::array<unsigned char, kRandom> bytes{};
  if (::getrandom(bytes.data(), bytes.size(), 0) != static_cast<ssize_t>(bytes.size())) {
    // Without the random source: the process id and the clock.
    const std::uint64_t seed =
        (static_cast<std::uint64_t>(::getpid()) * std::uint64_t{0x9E3779B97F4A7C15}) ^
        static_cast<std::uint64_t>(::time(nullptr)) ^
        (++g_names * std::uint64_t{0xBF58476D1CE4E5B9});
    for (std::size_t i = 0; i < kRandom; ++i) {
      bytes[i] = static_cast<unsigned char>(seed >> (8 * i));
    }
  }
  for (const unsigned char byte : bytes) leaf += kLetters[byte % kLetters.size()];
  return destination.parent_path() / leaf;
}

std::filesystem::path directory_of(const std::filesystem::path& file) {
  std::filesystem::path directory = file.parent_path();
  return directory.empty() ? std::filesystem::path(".") : directory;
}

// Flushes a directory's entries (its new names) to the disk.
void sync_directory(const std::filesystem::path& directory) {
  const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    (void)::fsync(fd);
    ::close(fd);
  }
}

// Why an existing `destination` may not be replaced by an output directory
// (an errno), or 0 when it is absent, an empty directory, or one holding
// `marker` and nothing but regular files.
int directory_refusal(const std::filesystem::path& destination, std::string_view marker) {
  struct stat info {};
  if (::lstat(destination.c_str(), &info) != 0) return errno == ENOENT ? 0 : errno;
  if (!S_ISDIR(info.st_mode)) return ENOTDIR;
  std::error_code ec;
  bool empty = true;
  bool marked = false;
  bool only_files = true;
  for (std::filesystem::directory_iterator it(destination, ec), end; !ec && it != end;
       it.increment(ec)) {
    empty = false;
    marked = marked || it->path().filename() == marker;
    std::error_code status_ec;
    only_files = only_files && std::filesystem::is_regular_file(it->symlink_status(status_ec));
  }
  if (ec) return ec.value();
  return empty || (marked && only_files) ? 0 : ENOTEMPTY;
}

}  // namespace

OpenResult::OpenResult(OutputFile file) : Result<OutputFile>(std::move(file)) {}

OpenResult::OpenResult(Error error, std::filesystem::path concerning)
    : Result<OutputFile>(std::move(error)), concerning_(std::move(concerning)) {}

OpenResult::OpenResult(InputClash clash)
    : Result<OutputFile>(Error::os(EPERM)),
      concerning_(clash.file.empty() ? clash.run : clash.file),
      clash_(std::move(clash)) {}

OpenResult OutputFile::open(const std::filesystem::path& target, const OutputOptions& options) {
  OutputFile file;
  file.target_ = target;
  file.sync_ = options.sync;
  if (target == "-") {
    // Standard output redirected onto a run's file (`>> v.d/AcqData/...`).
    if (auto clash = find_input_clash(STDOUT_FILENO, options.inputs)) return OpenResult(*clash);
    file.fd_ = STDOUT_FILENO;
    file.in_place_ = true;
    return file;
  }
  const std::string& native = target.native();
  if (native.empty() || native.find('\0') != std::string::npos) {
    return {Error::os(EINVAL), target};
  }

  // Before anything else: neither a write in place nor a rename may touch
  // an input. The target as named, and the file its links lead to.
  if (auto clash = find_input_clash(target, options.inputs)) return OpenResult(*clash);

  struct stat info {};
  const bool exists = ::stat(native.c_str(), &info) == 0;
  if (exists && same_file_as_standard_output(info)) {
    file.fd_ = STDOUT_FILENO;
    file.in_place_ = true;
    return file;
  }
  if (exists && S_ISDIR(info.st_mode)) return {Error::os(EISDIR), target};
  if (exists && !S_ISREG(info.st_mode)) {
    // A device or a FIFO: write into it, never rename over it.
    file.fd_ = ::open(native.c_str(), O_WRONLY | O_CLOEXEC);
    if (file.fd_ < 0) return {Error::os(errno), target};
    file.owns_fd_ = true;
    file.in_place_ = true;
    return file;
  }

  auto resolved = resolve_links(target);
  if (!resolved) return {std::move(resolved).error(), target};
  file.destination_ = std::move(resolved).value();
  if (file.destination_.filename().empty()) return {Error::os(EISDIR), target};
  if (auto clash = find_input_clash(file.destination_, options.inputs)) return OpenResult(*clash);
  // A file the process may not write is not replaced either, as the shell
  // refuses `> file` (root may write any).
  if (exists && ::faccessat(AT_FDCWD, file.destination_.c_str(), W_OK, AT_EACCESS) != 0 &&
      errno != ENOENT) {
    return {Error::os(errno), target};
  }
  if (under_system_tree(file.destination_)) {
    file.fd_ = ::open(file.destination_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (file.fd_ < 0) return {Error::os(errno), target};
    file.owns_fd_ = true;
    file.in_place_ = true;
    return file;
  }

  // The temporary, beside the file it replaces so that rename() stays in
  // one file system. Mode 0666 at creation: the kernel takes the umask off.
  const std::filesystem::path directory = directory_of(file.destination_);
  if (options.anonymous) {
    file.fd_ = ::open(directory.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
  }
  file.anonymous_ = file.fd_ >= 0;
  for (int attempt = 0; file.fd_ < 0 && attempt < 100; ++attempt) {
    // Entered before it exists, so that no interrupt finds it unentered.
    file.temporary_ = temporary_name(file.destination_);
    file.cleanup_slot_ = enter_temporary(file.temporary_.c_str());
    file.fd_ = ::open(file.temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (file.fd_ >= 0) break;
    const int err = errno;
    leave_temporary(std::exchange(file.cleanup_slot_, -1));
    file.temporary_.clear();
    if (err != EEXIST) return {Error::os(err), directory};
  }
  if (file.fd_ < 0) return {Error::os(EEXIST), directory};
  file.owns_fd_ = true;

  if (exists) {
    // The replacement keeps the mode of the file it replaces, and its owner
    // and group where the process may give them.
    if (::fchmod(file.fd_, info.st_mode & 07777) != 0) return {Error::os(errno), target};
    if (info.st_uid != ::geteuid() || info.st_gid != ::getegid()) {
      if (::fchown(file.fd_, info.st_uid, info.st_gid) == 0) {
        // chown clears the set-id bits; put the mode back.
        (void)::fchmod(file.fd_, info.st_mode & 07777);
      }
    }
  }
  return file;
}

OutputFile OutputFile::memory() {
  OutputFile out;
  out.in_memory_ = true;
  return out;
}

Result<OutputFile> OutputFile::scratch(const std::filesystem::path& directory) {
  OutputFile file;
  file.scratch_ = true;
  file.sync_ = false;
  file.destination_ = directory / "scratch";
  file.fd_ = ::open(directory.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  for (int attempt = 0; file.fd_ < 0 && attempt < 100; ++attempt) {
    // Without O_TMPFILE: a named file, unlinked at once.
    const std::filesystem::path name = temporary_name(file.destination_);
    const int slot = enter_temporary(name.c_str());
    file.fd_ = ::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    const int err = errno;
    if (file.fd_ >= 0) ::unlink(name.c_str());
    leave_temporary(slot);
    if (file.fd_ < 0 && err != EEXIST) return Error::os(err);
  }
  if (file.fd_ < 0) return Error::os(EEXIST);
  file.owns_fd_ = true;
  return file;
}

OutputFile::OutputFile(OutputFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      owns_fd_(std::exchange(other.owns_fd_, false)),
      in_place_(other.in_place_),
      anonymous_(other.anonymous_),
      sync_(other.sync_),
      target_(std::move(other.target_)),
      destination_(std::move(other.destination_)),
      temporary_(std::exchange(other.temporary_, {})),
      filter_(std::move(other.filter_)),
      cleanup_slot_(std::exchange(other.cleanup_slot_, -1)),
      bytes_written_(other.bytes_written_),
      bytes_stored_(other.bytes_stored_),
      in_memory_(std::exchange(other.in_memory_, false)),
      text_(std::move(other.text_)),
      scratch_(std::exchange(other.scratch_, false)) {}

OutputFile& OutputFile::operator=(OutputFile&& other) noexcept {
  if (this != &other) {
    discard();
    fd_ = std::exchange(other.fd_, -1);
    owns_fd_ = std::exchange(other.owns_fd_, false);
    in_place_ = other.in_place_;
    anonymous_ = other.anonymous_;
    sync_ = other.sync_;
    target_ = std::move(other.target_);
    destination_ = std::move(other.destination_);
    temporary_ = std::exchange(other.temporary_, {});
    filter_ = std::move(other.filter_);
    cleanup_slot_ = std::exchange(other.cleanup_slot_, -1);
    bytes_written_ = other.bytes_written_;
    bytes_stored_ = other.bytes_stored_;
    in_memory_ = std::exchange(other.in_memory_, false);
    text_ = std::move(other.text_);
    scratch_ = std::exchange(other.scratch_, false);
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
  leave_temporary(std::exchange(cleanup_slot_, -1));
}

OutputFilter::~OutputFilter() = default;

void OutputFile::set_filter(std::unique_ptr<OutputFilter> filter) { filter_ = std::move(filter); }

Result<Done> OutputFile::write(std::string_view bytes) {
  bytes_written_ += bytes.size();
  if (filter_) return filter_->write(bytes, *this);
  return store(bytes);
}

Result<Done> OutputFile::store(std::string_view bytes) {
  if (in_memory_) {
    text_.append(bytes);
    bytes_stored_ += bytes.size();
    return Done{};
  }
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

Result<Done> OutputFile::seek(std::uint64_t offset) {
  if (!seekable()) return Error::os(ESPIPE);
  if (offset > static_cast<std::uint64_t>(INT64_MAX)) return Error::os(EINVAL);
  if (::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) < 0) return Error::os(errno);
  return Done{};
}

Result<std::size_t> OutputFile::read_at(std::uint64_t offset, char* data, std::size_t size) const {
  if (!scratch_ || fd_ < 0) return Error::os(EBADF);
  if (offset > static_cast<std::uint64_t>(INT64_MAX)) return Error::os(EINVAL);
  for (;;) {
    const ssize_t n = ::pread(fd_, data, size, static_cast<off_t>(offset));
    if (n >= 0) return static_cast<std::size_t>(n);
    if (errno != EINTR) return Error::os(errno);
  }
}

std::filesystem::path OutputFile::scratch_directory() const {
  if (!in_place_ && !in_memory_) return directory_of(destination_);
  std::error_code ec;
  std::filesystem::path directory = std::filesystem::temp_directory_path(ec);
  return ec ? std::filesystem::path("/tmp") : directory;
}

Result<Done> OutputFile::commit() {
  if (in_memory_ || scratch_) return finish_filter();
  if (fd_ < 0) return Error::os(EBADF);
  if (auto finished = finish_filter(); !finished) {
    discard();
    return finished;
  }
  if (in_place_) {
    const int fd = std::exchange(fd_, -1);
    // Standard output stays open; nothing is buffered on our side.
    if (!std::exchange(owns_fd_, false)) return Done{};
    if (::close(fd) != 0 && errno != EINTR) return Error::os(errno);
    return Done{};
  }
  auto placed = place();
  if (!placed) discard();
  return placed;
}

Result<Done> OutputFile::place() {
  if (sync_ && ::fsync(fd_) != 0) return Error::os(errno);
  if (anonymous_) {
    // The temporary gets its name now, for the rename: a link to the open
    // file (through /proc, or AT_EMPTY_PATH where /proc is missing).
    const std::string self = "/proc/self/fd/" + std::to_string(fd_);
    for (int attempt = 0; temporary_.empty(); ++attempt) {
      const std::filesystem::path name = temporary_name(destination_);
      cleanup_slot_ = enter_temporary(name.c_str());
      int linked = ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW);
      if (linked != 0 && errno == ENOENT) {
        linked = ::linkat(fd_, "", AT_FDCWD, name.c_str(), AT_EMPTY_PATH);
      }
      if (linked == 0) {
        temporary_ = name;
        break;
      }
      const int err = errno;
      leave_temporary(std::exchange(cleanup_slot_, -1));
      if (err != EEXIST || attempt >= 100) return Error::os(err);
    }
  }
  const int fd = std::exchange(fd_, -1);
  owns_fd_ = false;
  if (::close(fd) != 0 && errno != EINTR) return Error::os(errno);
  if (::rename(temporary_.c_str(), destination_.c_str()) != 0) return Error::os(errno);
  temporary_.clear();
  leave_temporary(std::exchange(cleanup_slot_, -1));
  if (sync_) {
    // The rename itself reaches the disk with the directory.
    const int directory =
        ::open(directory_of(destination_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directory >= 0) {
      (void)::fsync(directory);
      ::close(directory);
    }
  }
  return Done{};
}

Result<OutputDirectory> OutputDirectory::make(const std::filesystem::path& near, unsigned mode) {
  OutputDirectory directory;
  for (int attempt = 0; attempt < 100; ++attempt) {
    // Entered before it exists, so that no interrupt finds it unentered.
    std::filesystem::path name = temporary_name(near);
    directory.cleanup_slot_ = enter_temporary(name.c_str());
    if (::mkdir(name.c_str(), static_cast<mode_t>(mode)) == 0) {
      directory.temporary_ = std::move(name);
      return directory;
    }
    const int err = errno;
    leave_temporary(std::exchange(directory.cleanup_slot_, -1));
    if (err != EEXIST) return Error::os(err);
  }
  return Error::os(EEXIST);
}

Result<OutputDirectory> OutputDirectory::open(const std::filesystem::path& target,
                                              const OutputOptions& options,
                                              std::string_view marker) {
  if (target.empty() || target.native().find('\0') != std::string::npos) {
    return Error::os(EINVAL);
  }
  if (find_input_clash(target, options.inputs)) return Error::os(EPERM);
  // The directory the target names, its links followed ("out/" is "out").
  std::filesystem::path destination = resolved_path(target);
  if (destination.filename().empty()) destination = destination.parent_path();
  if (destination.filename().empty() || destination == destination.root_path()) {
    return Error::os(EINVAL);
  }
  if (find_input_clash(destination, options.inputs)) return Error::os(EPERM);
  if (const int refused = directory_refusal(destination, marker)) return Error::os(refused);
  std::error_code ec;
  std::filesystem::create_directories(destination.parent_path(), ec);
  if (ec) return Error::os(ec.value());

  // Mode 0777 at creation: the kernel takes the umask off.
  auto made = make(destination, 0777);
  if (!made) return std::move(made).error();
  OutputDirectory directory = std::move(made).value();
  directory.sync_ = options.sync;
  directory.anonymous_ = options.anonymous;
  directory.marker_ = marker;
  directory.destination_ = destination;
  return directory;
}

OutputDirectory::OutputDirectory(OutputDirectory&& other) noexcept
    : sync_(other.sync_),
      anonymous_(other.anonymous_),
      marker_(std::move(other.marker_)),
      destination_(std::move(other.destination_)),
      temporary_(std::exchange(other.temporary_, {})),
      cleanup_slot_(std::exchange(other.cleanup_slot_, -1)) {}

OutputDirectory& OutputDirectory::operator=(OutputDirectory&& other) noexcept {
  if (this != &other) {
    discard();
    sync_ = other.sync_;
    anonymous_ = other.anonymous_;
    marker_ = std::move(other.marker_);
    destination_ = std::move(other.destination_);
    temporary_ = std::exchange(other.temporary_, {});
    cleanup_slot_ = std::exchange(other.cleanup_slot_, -1);
  }
  return *this;
}

OutputDirectory::~OutputDirectory() { discard(); }

void OutputDirectory::discard() noexcept {
  if (!temporary_.empty()) {
    std::error_code ec;
    std::filesystem::remove_all(temporary_, ec);
    temporary_.clear();
  }
  leave_temporary(std::exchange(cleanup_slot_, -1));
}

Result<Done> OutputDirectory::commit() {
  if (temporary_.empty() || destination_.empty()) return Error::os(EBADF);
  if (sync_) sync_directory(temporary_);
  const auto failed = [this](int err) -> Result<Done> {
    discard();
    return Error::os(err);
  };
  // Into a free place; else over an earlier output, the two exchanged at
  // once so that the target is never missing or partial.
  if (::renameat2(AT_FDCWD, temporary_.c_str(), AT_FDCWD, destination_.c_str(), RENAME_NOREPLACE) !=
      0) {
    const int err = errno;
    if (err == EINVAL || err == ENOSYS) {
      // A file system without the flags: rename() replaces only an empty
      // directory, and refuses any other.
      if (const int refused = directory_refusal(destination_, marker_)) return failed(refused);
      if (::rename(temporary_.c_str(), destination_.c_str()) != 0) return failed(errno);
      leave_temporary(std::exchange(cleanup_slot_, -1));
      temporary_.clear();
    } else if (err != EEXIST) {
      return failed(err);
    } else if (const int refused = directory_refusal(destination_, marker_)) {
      return failed(refused);
    } else if (::renameat2(AT_FDCWD, temporary_.c_str(), AT_FDCWD, destination_.c_str(),
                           RENAME_EXCHANGE) != 0) {
      return failed(errno);
    }
  } else {
    leave_temporary(std::exchange(cleanup_slot_, -1));
    temporary_.clear();
  }
  // What is left at the temporary's name is the replaced output.
  discard();
  if (sync_) sync_directory(directory_of(destination_));
  return Done{};
}

}  // namespace velmoran::textio
