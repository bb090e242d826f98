#include "mzpeak_members.hpp"

#include <zip.h>

#include <memory>
#include <new>

namespace velmoran::exporting {

Result<textio::Done> write_zip(const std::vector<Member>& members, OutputFile& output) {
  zip_error_t error;
  zip_error_init(&error);
  zip_source_t* buffer = zip_source_buffer_create(nullptr, 0, 0, &error);
  if (!buffer) throw std::bad_alloc();
  zip_source_keep(buffer);
  const auto drop = [](zip_source_t* s) { zip_source_free(s); };
  std::unique_ptr<zip_source_t, decltype(drop)> kept(buffer, drop);
  zip_t* archive = zip_open_from_source(buffer, ZIP_TRUNCATE, &error);
  if (!archive) return Error::parse(std::string("zip: ") + zip_error_strerror(&error));
  for (const auto& member : members) {
    zip_source_t* data = zip_source_buffer(archive, member.bytes.data(), member.bytes.size(), 0);
    const zip_int64_t at =
        data ? zip_file_add(archive, member.name.c_str(), data, ZIP_FL_ENC_UTF_8) : -1;
    if (at < 0 ||
        zip_set_file_compression(archive, static_cast<zip_uint64_t>(at), ZIP_CM_STORE, 0) != 0) {
      if (data && at < 0) zip_source_free(data);
      const std::string text = zip_strerror(archive);
      zip_discard(archive);
      return Error::parse("zip: " + text);
    }
  }
  if (zip_close(archive) != 0) {
    const std::string text = zip_strerror(archive);
    zip_discard(archive);
    return Error::parse("zip: " + text);
  }
  if (zip_source_open(buffer) != 0) return Error::parse("zip: the archive cannot be read back");
  std::string chunk(std::size_t{1} << 20, '\0');
  for (;;) {
    const zip_int64_t n = zip_source_read(buffer, chunk.data(), chunk.size());
    if (n < 0) {
      zip_source_close(buffer);
      return Error::parse("zip: the archive cannot be read back");
    }
    if (n == 0) break;
    if (auto r = output.write(std::string_view(chunk.data(), static_cast<std::size_t>(n))); !r) {
      zip_source_close(buffer);
      return std::move(r).error();
    }
  }
  zip_source_close(buffer);
  return textio::Done{};
}

}  // namespace velmoran::exporting
