// Where a command's output goes, put in place the way git and rsync do it.
//
// A regular target (or one that does not exist yet) is written under a
// temporary name in the target's own directory and renamed over the target
// only by commit(), after the last write and the close succeeded; dropping
// an uncommitted file removes the temporary and leaves whatever was at the
// target untouched. A target that exists and is not a regular file (a
// device, a FIFO) is written in place and never replaced. "-" is standard
// output, written in place and left open.
//
// Every write is checked: a short or failed write is the system's error
// (ENOSPC, EPIPE), never swallowed.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string_view>

#include <velmoran/result.hpp>

namespace velmoran::textio {

// A value for operations that succeed with nothing to return.
struct Done {};

class OutputFile {
 public:
  [[nodiscard]] static Result<OutputFile> open(const std::filesystem::path& target);

  OutputFile(OutputFile&& other) noexcept;
  OutputFile& operator=(OutputFile&& other) noexcept;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  ~OutputFile();

  // Writes all of `bytes` (repeating short writes and interrupted ones).
  [[nodiscard]] Result<Done> write(std::string_view bytes);

  // Closes the file and puts it in place. After a failure nothing is at the
  // target that was not there before.
  [[nodiscard]] Result<Done> commit();

  [[nodiscard]] std::uint64_t bytes_written() const noexcept { return bytes_written_; }
  [[nodiscard]] const std::filesystem::path& target() const noexcept { return target_; }
  // Standard output or a device/FIFO: written in place.
  [[nodiscard]] bool in_place() const noexcept { return temporary_.empty(); }
  // The temporary file being written (empty when in place), for a signal
  // handler that must remove it when the process is interrupted.
  [[nodiscard]] const std::filesystem::path& temporary() const noexcept { return temporary_; }

 private:
  OutputFile(int fd, bool owns_fd, std::filesystem::path target, std::filesystem::path temporary)
      : fd_(fd), owns_fd_(owns_fd), target_(std::move(target)), temporary_(std::move(temporary)) {}
  void discard() noexcept;

  int fd_ = -1;
  bool owns_fd_ = false;
  std::filesystem::path target_;
  // Empty when writing in place.
  std::filesystem::path temporary_;
  std::uint64_t bytes_written_ = 0;
};

}  // namespace velmoran::textio
