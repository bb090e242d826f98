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
#include <memory>
#include <string_view>

#include <velmoran/result.hpp>

namespace velmoran::textio {

// A value for operations that succeed with nothing to return.
struct Done {};

class OutputFile;

// A stage between OutputFile::write() and the file, such as a compressor:
// it takes the document's bytes and stores its own with OutputFile::store().
class OutputFilter {
 public:
  virtual ~OutputFilter();
  [[nodiscard]] virtual Result<Done> write(std::string_view bytes, OutputFile& file) = 0;
  // Stores what the filter still holds; called by commit().
  [[nodiscard]] virtual Result<Done> finish(OutputFile& file) = 0;
};

class OutputFile {
 public:
  [[nodiscard]] static Result<OutputFile> open(const std::filesystem::path& target);

  OutputFile(OutputFile&& other) noexcept;
  OutputFile& operator=(OutputFile&& other) noexcept;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  ~OutputFile();

  // Writes all of `bytes` (repeating short writes and interrupted ones),
  // through the filter when there is one.
  [[nodiscard]] Result<Done> write(std::string_view bytes);
  // Writes `bytes` to the file itself, past any filter.
  [[nodiscard]] Result<Done> store(std::string_view bytes);
  // Routes every later write() through `filter`; commit() finishes it.
  void set_filter(std::unique_ptr<OutputFilter> filter);
  // Finishes and drops the filter now, so that bytes_stored() is final.
  [[nodiscard]] Result<Done> finish_filter();

  // Closes the file and puts it in place. After a failure nothing is at the
  // target that was not there before.
  [[nodiscard]] Result<Done> commit();

  // Bytes given to write(): the document's own length, which offsets in it
  // count, whatever a filter makes of them.
  [[nodiscard]] std::uint64_t bytes_written() const noexcept { return bytes_written_; }
  // Bytes that reached the file.
  [[nodiscard]] std::uint64_t bytes_stored() const noexcept { return bytes_stored_; }
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
  std::unique_ptr<OutputFilter> filter_;
  std::uint64_t bytes_written_ = 0;
  std::uint64_t bytes_stored_ = 0;
};

}  // namespace velmoran::textio
