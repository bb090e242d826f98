#include <velmoran/textio/buffered_writer.hpp>

namespace velmoran::textio {

BufferedWriter::BufferedWriter(OutputFile& file) : file_(&file) {
  buffer_.reserve(kChunkBytes + kDirectBytes);
}

Result<Done> BufferedWriter::write(std::string_view text) {
  if (text.size() >= kDirectBytes) {
    if (auto flushed = flush(); !flushed) return flushed;
    return file_->write(text);
  }
  buffer_ += text;
  return written_to_buffer();
}

Result<Done> BufferedWriter::flush() {
  if (buffer_.empty()) return Done{};
  auto written = file_->write(buffer_);
  buffer_.clear();
  return written;
}

}  // namespace velmoran::textio
