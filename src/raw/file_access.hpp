// read_bytes: the one primitive for reading part of a dataset file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>

#include "raw/bytes.hpp"
#include <velmoran/result.hpp>

namespace velmoran::raw {

// Reads exactly `length` bytes at byte position `offset` of the file at
// `path` into a new buffer. Opens, seeks, reads and closes the file on
// every call; keeps nothing between calls. Fails only with Io: the
// system's error, or "failed to fill whole buffer" when the file ends
// before offset + length (detected before anything is allocated for a
// regular file).
[[nodiscard]] Result<Bytes> read_bytes(const std::filesystem::path& path, std::uint64_t offset,
                                       std::size_t length);

// Reads a whole file in one read into a new buffer.
[[nodiscard]] Result<Bytes> read_file(const std::filesystem::path& path);

}  // namespace velmoran::raw
