#include "mzpeak_members.hpp"

#include <zip.h>

#include <ctime>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include <velmoran/textio/buffered_writer.hpp>

namespace velmoran::exporting {

namespace {

// What libzip writes the archive through: a source that only writes, into
// an OutputFile, with a buffer between them (libzip writes in pieces of a
// few KiB) and the seeks libzip needs to go back and fill in each member's
// local header once its data is written.
class ZipWriteSource {
 public:
  explicit ZipWriteSource(OutputFile& output) : output_(&output), buffer_(output) {
    zip_error_init(&error_);
  }
  ZipWriteSource(const ZipWriteSource&) = delete;
  ZipWriteSource& operator=(const ZipWriteSource&) = delete;
  ~ZipWriteSource() { zip_error_fini(&error_); }

  static zip_int64_t call(void* self, void* data, zip_uint64_t length, zip_source_cmd_t command) {
    return static_cast<ZipWriteSource*>(self)->on(data, length, command);
  }
  // The output's error behind a failed write, for the message.
  [[nodiscard]] std::optional<Error>& failure() noexcept { return failure_; }
  [[nodiscard]] std::uint64_t size() const noexcept { return end_; }

 private:
  zip_int64_t on(void* data, zip_uint64_t length, zip_source_cmd_t command) {
    switch (command) {
      case ZIP_SOURCE_SUPPORTS:
        return ZIP_SOURCE_SUPPORTS_WRITABLE;
      case ZIP_SOURCE_STAT:
        // No archive is there yet: libzip makes a new one.
        zip_error_set(&error_, ZIP_ER_READ, ENOENT);
        return -1;
      case ZIP_SOURCE_ERROR:
        return zip_error_to_data(&error_, data, length);
      case ZIP_SOURCE_BEGIN_WRITE:
        position_ = 0;
        end_ = 0;
        return 0;
      case ZIP_SOURCE_WRITE:
        if (!check(buffer_.write(std::string_view(static_cast<const char*>(data), length)))) {
          return -1;
        }
        position_ += length;
        end_ = std::max(end_, position_);
        return static_cast<zip_int64_t>(length);
      case ZIP_SOURCE_TELL_WRITE:
        return static_cast<zip_int64_t>(position_);
      case ZIP_SOURCE_SEEK_WRITE: {
        auto* args = ZIP_SOURCE_GET_ARGS(zip_source_args_seek_t, data, length, &error_);
        if (!args) return -1;
        const std::uint64_t base = args->whence == SEEK_SET   ? 0
                                   : args->whence == SEEK_CUR ? position_
                                                              : end_;
        if (args->offset < 0 && static_cast<std::uint64_t>(-args->offset) > base) {
          zip_error_set(&error_, ZIP_ER_INVAL, 0);
          return -1;
        }
        const std::uint64_t to = base + static_cast<std::uint64_t>(args->offset);
        if (!check(buffer_.flush()) || !check(output_->seek(to))) return -1;
        position_ = to;
        return 0;
      }
      case ZIP_SOURCE_COMMIT_WRITE:
        return check(buffer_.flush()) ? 0 : -1;
      case ZIP_SOURCE_ROLLBACK_WRITE:
      case ZIP_SOURCE_REMOVE:
      case ZIP_SOURCE_FREE:
      case ZIP_SOURCE_CLOSE:
        // The OutputFile is dropped uncommitted by its owner on failure.
        return 0;
      default:
        zip_error_set(&error_, ZIP_ER_OPNOTSUPP, 0);
        return -1;
    }
  }

  bool check(Result<textio::Done> done) {
    if (done) return true;
    zip_error_set(&error_, ZIP_ER_WRITE, done.error().os_error());
    failure_ = std::move(done).error();
    return false;
  }

  OutputFile* output_;
  textio::BufferedWriter buffer_;
  zip_error_t error_;
  std::optional<Error> failure_;
  std::uint64_t position_ = 0;
  std::uint64_t end_ = 0;
};

// What libzip reads a member from: its scratch file, read at offsets.
class ZipReadSource {
 public:
  ZipReadSource(const OutputFile& file, std::uint64_t size) : file_(&file), size_(size) {
    zip_error_init(&error_);
  }
  ZipReadSource(const ZipReadSource&) = delete;
  ZipReadSource& operator=(const ZipReadSource&) = delete;
  ~ZipReadSource() { zip_error_fini(&error_); }

  static zip_int64_t call(void* self, void* data, zip_uint64_t length, zip_source_cmd_t command) {
    return static_cast<ZipReadSource*>(self)->on(data, length, command);
  }

 private:
  zip_int64_t on(void* data, zip_uint64_t length, zip_source_cmd_t command) {
    switch (command) {
      case ZIP_SOURCE_SUPPORTS:
        return ZIP_SOURCE_SUPPORTS_SEEKABLE;
      case ZIP_SOURCE_OPEN:
        position_ = 0;
        return 0;
      case ZIP_SOURCE_READ: {
        const auto want = static_cast<std::size_t>(
            std::min<std::uint64_t>(length, size_ - std::min(size_, position_)));
        auto n = file_->read_at(position_, static_cast<char*>(data), want);
        if (!n) {
          zip_error_set(&error_, ZIP_ER_READ, n.error().os_error());
          return -1;
        }
        position_ += *n;
        return static_cast<zip_int64_t>(*n);
      }
      case ZIP_SOURCE_STAT: {
        auto* stat = ZIP_SOURCE_GET_ARGS(zip_stat_t, data, length, &error_);
        if (!stat) return -1;
        zip_stat_init(stat);
        stat->size = size_;
        stat->mtime = ::time(nullptr);
        stat->valid = ZIP_STAT_SIZE | ZIP_STAT_MTIME;
        return sizeof(zip_stat_t);
      }
      case ZIP_SOURCE_SEEK: {
        const zip_int64_t to =
            zip_source_seek_compute_offset(position_, size_, data, length, &error_);
        if (to < 0) return -1;
        position_ = static_cast<std::uint64_t>(to);
        return 0;
      }
      case ZIP_SOURCE_TELL:
        return static_cast<zip_int64_t>(position_);
      case ZIP_SOURCE_ERROR:
        return zip_error_to_data(&error_, data, length);
      case ZIP_SOURCE_CLOSE:
      case ZIP_SOURCE_FREE:
        return 0;
      default:
        zip_error_set(&error_, ZIP_ER_OPNOTSUPP, 0);
        return -1;
    }
  }

  const OutputFile* file_;
  std::uint64_t size_;
  std::uint64_t position_ = 0;
  zip_error_t error_;
};

// The ZIP written into `output`, which must be seekable.
Result<std::uint64_t> zip_into(const std::vector<Member>& members, OutputFile& output) {
  // The members' sources, alive until the archive is closed.
  std::vector<std::unique_ptr<ZipReadSource>> readers;
  readers.reserve(members.size());
  for (const auto& member : members) {
    if (!member.bytes) return Error::os(EBADF);
    readers.push_back(std::make_unique<ZipReadSource>(*member.bytes, member.size));
  }
  ZipWriteSource sink(output);
  zip_error_t error;
  zip_error_init(&error);
  zip_source_t* source = zip_source_function_create(&ZipWriteSource::call, &sink, &error);
  if (!source) return Error::parse(std::string("zip: ") + zip_error_strerror(&error));
  zip_t* archive = zip_open_from_source(source, ZIP_CREATE | ZIP_TRUNCATE, &error);
  if (!archive) {
    zip_source_free(source);
    std::string text = zip_error_strerror(&error);
    zip_error_fini(&error);
    return Error::parse("zip: " + text);
  }
  zip_error_fini(&error);
  const auto fail = [&](zip_t* zip) -> Error {
    if (sink.failure()) {
      zip_discard(zip);
      return std::move(*sink.failure());
    }
    std::string text = zip_strerror(zip);
    zip_discard(zip);
    return Error::parse("zip: " + text);
  };
  for (std::size_t i = 0; i < members.size(); ++i) {
    const Member& member = members[i];
    // Read from the member's file when the archive is closed.
    zip_source_t* data = zip_source_function(archive, &ZipReadSource::call, readers[i].get());
    const zip_int64_t at =
        data ? zip_file_add(archive, member.name.c_str(), data, ZIP_FL_ENC_UTF_8) : -1;
    if (at < 0 ||
        zip_set_file_compression(archive, static_cast<zip_uint64_t>(at), ZIP_CM_STORE, 0) != 0) {
      if (data && at < 0) zip_source_free(data);
      return fail(archive);
    }
  }
  if (zip_close(archive) != 0) return fail(archive);
  return sink.size();
}

}  // namespace

Result<std::uint64_t> write_zip(const std::vector<Member>& members, OutputFile& output) {
  if (output.seekable()) return zip_into(members, output);
  // A pipe or a device: the ZIP is made in a scratch file, then copied.
  auto whole = OutputFile::scratch(output.scratch_directory());
  if (!whole) return std::move(whole).error();
  auto size = zip_into(members, *whole);
  if (!size) return size;
  std::string chunk(textio::BufferedWriter::kChunkBytes, '\0');
  for (std::uint64_t at = 0; at < *size;) {
    auto n = whole->read_at(at, chunk.data(), chunk.size());
    if (!n) return std::move(n).error();
    if (*n == 0) return Error::unexpected_eof();
    if (auto r = output.write(std::string_view(chunk.data(), *n)); !r) {
      return std::move(r).error();
    }
    at += *n;
  }
  return size;
}

}  // namespace velmoran::exporting
