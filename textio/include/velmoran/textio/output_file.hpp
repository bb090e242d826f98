// Where a command's output goes, put in place the way git and rsync do it.
//
// A regular target (or one that does not exist yet) is written to a
// temporary file in the target's own directory and renamed over the target
// only by commit(), after the last write, the flush to the disk and the
// close succeeded; dropping an uncommitted file leaves whatever was at the
// target untouched. The temporary is anonymous (O_TMPFILE) where the file
// system allows it, so that no kill, not even SIGKILL, leaves it behind; it
// gets a name (".NAME.tmp-XXXXXX") only for the instant of the rename at
// commit. Elsewhere it is named from the start, and an InterruptCleanup
// removes it when the program is interrupted.
//
// - A symbolic link is written through: the temporary goes beside the file
//   the link resolves to and is renamed over that file; the link stays.
// - Standard output ("-", or a target that is the same file as standard
//   output: /dev/stdout, /proc/self/fd/1, the file standard output was
//   redirected to) is written through standard output itself.
// - A target that is not a regular file (a device, a FIFO) is written in
//   place, as is anything under /dev or /proc: nothing there is ever
//   renamed over.
// - An existing target keeps its mode (and, where permitted, its owner); a
//   new file gets 0666 less the umask, applied by the kernel at creation.
//   One the process may not write (access(W_OK)) is refused, as the shell
//   refuses `> file`; its other hard links keep the old contents.
// - A target that is one of the command's input runs' files, or lies
//   inside an input run, is refused before anything is written (see
//   input_clash.hpp).
//
// memory() keeps what is written in a string instead, for a caller that
// serves the text rather than stores it (the viewer's API renders the
// tables the commands write).
//
// Every write is checked: a short or failed write is the system's error
// (ENOSPC, EPIPE), never swallowed.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <velmoran/result.hpp>
#include <velmoran/textio/input_clash.hpp>

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

struct OutputOptions {
  // Flush the file to the disk before it is renamed into place, and its
  // directory after, so that after a crash the target holds either its old
  // contents or the whole new file (never an empty or partial one).
  bool sync = true;
  // An anonymous temporary where the file system has O_TMPFILE; false names
  // it from the start, as on file systems without it.
  bool anonymous = true;
  // The runs (dataset directories) the command reads, which no output may
  // overwrite or enter.
  std::vector<std::filesystem::path> inputs{};
};

class OpenResult;

class OutputFile {
 public:
  // "-" is standard output.
  [[nodiscard]] static OpenResult open(const std::filesystem::path& target,
                                       const OutputOptions& options = {});
  // Written into memory: commit() only ends the writing; take_text() hands
  // the text over.
  [[nodiscard]] static OutputFile memory();
  // Scratch space in `directory`: an anonymous file (O_TMPFILE, or one
  // unlinked as soon as it is made) that is never put in place, so that
  // nothing is left of it however the program ends. commit() only ends
  // the writing; read_at() reads it back.
  [[nodiscard]] static Result<OutputFile> scratch(const std::filesystem::path& directory);

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

  // Whether seek() works: the file is written through a temporary (not in
  // place, not into memory), for writers that go back to fill in a header.
  [[nodiscard]] bool seekable() const noexcept { return !in_place_ && !in_memory_ && fd_ >= 0; }
  // Moves where the next store() goes to `offset` from the file's start
  // (ESPIPE when the file is not seekable()).
  [[nodiscard]] Result<Done> seek(std::uint64_t offset);
  // Reads up to `size` bytes at `offset` of a scratch() file; fewer at its
  // end.
  [[nodiscard]] Result<std::size_t> read_at(std::uint64_t offset, char* data,
                                            std::size_t size) const;
  // Where a writer may keep scratch files of its own on the way to this
  // output: the temporary's directory (on the target's file system), or
  // the system's temporary directory for a file written in place.
  [[nodiscard]] std::filesystem::path scratch_directory() const;

  // Flushes, closes and puts the file in place. After a failure nothing is
  // at the target that was not there before.
  [[nodiscard]] Result<Done> commit();

  // Bytes given to write(): the document's own length, which offsets in it
  // count, whatever a filter makes of them.
  [[nodiscard]] std::uint64_t bytes_written() const noexcept { return bytes_written_; }
  // Bytes that reached the file.
  [[nodiscard]] std::uint64_t bytes_stored() const noexcept { return bytes_stored_; }
  [[nodiscard]] const std::filesystem::path& target() const noexcept { return target_; }
  // The writes go to standard output (a reader that closed the pipe gives
  // EPIPE, which a command may take for the end of the output).
  [[nodiscard]] bool is_standard_output() const noexcept { return fd_ == 1 && !owns_fd_; }
  // What a memory() output holds; empty for the others.
  [[nodiscard]] std::string take_text() noexcept { return std::move(text_); }

 private:
  OutputFile() = default;
  void discard() noexcept;
  [[nodiscard]] Result<Done> place();

  int fd_ = -1;
  bool owns_fd_ = false;
  // Written in place: standard output, a device, a FIFO, under /dev or /proc.
  bool in_place_ = false;
  // The temporary has no name (O_TMPFILE) until commit.
  bool anonymous_ = false;
  bool sync_ = true;
  std::filesystem::path target_;
  // The regular file that is replaced: the target with its symbolic links
  // resolved.
  std::filesystem::path destination_;
  // The temporary's name while it has one.
  std::filesystem::path temporary_;
  std::unique_ptr<OutputFilter> filter_;
  // Its slot among the names an interrupt removes, or -1.
  int cleanup_slot_ = -1;
  std::uint64_t bytes_written_ = 0;
  std::uint64_t bytes_stored_ = 0;
  bool in_memory_ = false;
  std::string text_;
  // Made by scratch(): never placed, readable.
  bool scratch_ = false;
};

// A directory of files put in place whole, as OutputFile puts a file: the
// files are written into a hidden temporary directory beside the target
// (".NAME.tmp-XXXXXX", in the same parent so that the rename stays in one
// file system), and commit() renames it onto the target. Dropping an
// uncommitted one removes the temporary and its files, and so does an
// interrupt (InterruptCleanup), so that a failure never leaves a partial
// directory that looks finished.
//
// - A symbolic link is written through: the temporary goes beside the
//   directory the link resolves to, which it replaces; the link stays.
// - An existing target is replaced only when it is an empty directory or
//   one that holds `marker` and nothing but regular files (an earlier
//   output of the same kind); the two are exchanged at once and the old
//   files removed after. A file, or any other directory, is refused
//   (ENOTDIR, ENOTEMPTY) before anything is written, and again at commit.
// - A target that is, or lies inside, one of the input runs is refused.
class OutputDirectory {
 public:
  [[nodiscard]] static Result<OutputDirectory> open(const std::filesystem::path& target,
                                                    const OutputOptions& options,
                                                    std::string_view marker);

  OutputDirectory(OutputDirectory&& other) noexcept;
  OutputDirectory& operator=(OutputDirectory&& other) noexcept;
  OutputDirectory(const OutputDirectory&) = delete;
  OutputDirectory& operator=(const OutputDirectory&) = delete;
  ~OutputDirectory();

  // Where the files are written until commit().
  [[nodiscard]] const std::filesystem::path& path() const noexcept { return temporary_; }
  // The options its files are written with: synced as the directory is.
  [[nodiscard]] OutputOptions file_options() const {
    return {.sync = sync_, .anonymous = anonymous_};
  }

  // Puts the directory in place (flushed to the disk first when synced).
  // After a failure nothing is at the target that was not there before.
  [[nodiscard]] Result<Done> commit();

 private:
  OutputDirectory() = default;
  // A new temporary directory named after `near`, in its parent.
  [[nodiscard]] static Result<OutputDirectory> make(const std::filesystem::path& near,
                                                    unsigned mode);
  void discard() noexcept;

  bool sync_ = true;
  bool anonymous_ = true;
  std::string marker_;
  // The directory that is replaced: the target with its links resolved.
  std::filesystem::path destination_;
  std::filesystem::path temporary_;
  int cleanup_slot_ = -1;
};

// The result of OutputFile::open: the file, or the error with the path it
// concerns (the directory where the temporary could not be made, or the
// target).
class [[nodiscard]] OpenResult : public Result<OutputFile> {
 public:
  OpenResult(OutputFile file);  // NOLINT(google-explicit-constructor)
  OpenResult(Error error, std::filesystem::path concerning);
  // Refused: the target is (or lies inside) an input run; the error is
  // EPERM and concerning() the run's file or the run.
  explicit OpenResult(InputClash clash);
  [[nodiscard]] const std::filesystem::path& concerning() const noexcept { return concerning_; }
  [[nodiscard]] const std::optional<InputClash>& input_clash() const noexcept { return clash_; }

 private:
  std::filesystem::path concerning_;
  std::optional<InputClash> clash_;
};

}  // namespace velmoran::textio
