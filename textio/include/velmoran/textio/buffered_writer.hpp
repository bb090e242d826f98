// The one buffered writer of the program's outputs: text is appended to one
// growing buffer that goes to the OutputFile in large writes, and a large
// piece goes out as it is, without a copy. Every write is checked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include <velmoran/result.hpp>
#include <velmoran/textio/output_file.hpp>

namespace velmoran::textio {

class BufferedWriter {
 public:
  // The buffer is written out once it holds this much.
  static constexpr std::size_t kChunkBytes = std::size_t{1} << 20;
  // Pieces at least this large are written without being copied first.
  static constexpr std::size_t kDirectBytes = std::size_t{64} << 10;

  explicit BufferedWriter(OutputFile& file);

  // Appends `text`, writing out what the buffer holds when it is full.
  [[nodiscard]] Result<Done> write(std::string_view text);

  // The buffer, for callers that render straight into it; they call
  // written_to_buffer() after each piece.
  [[nodiscard]] std::string& buffer() noexcept { return buffer_; }
  [[nodiscard]] Result<Done> written_to_buffer() {
    if (buffer_.size() >= kChunkBytes) return flush();
    return Done{};
  }

  // Writes out what the buffer holds.
  [[nodiscard]] Result<Done> flush();

  // Bytes handed to write() or rendered into the buffer, written out or not.
  [[nodiscard]] std::uint64_t bytes() const noexcept {
    return file_->bytes_written() + buffer_.size();
  }

 private:
  OutputFile* file_;
  std::string buffer_;
};

}  // namespace velmoran::textio
