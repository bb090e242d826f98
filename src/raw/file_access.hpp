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
// regular file). A path holding a NUL fails with EINVAL before any system
// call.
[[nodiscard]] Result<Bytes> read_bytes(const std::filesystem::path& path, std::uint64_t offset,
                                       std::size_t length);

// Reads a whole file, to its end, into a new buffer. The size the file
// reports is only a hint: procfs-like and some FUSE file systems report 0,
// and a file may grow while it is read. A FIFO yields what its writer has
// written and never waits for one.
[[nodiscard]] Result<Bytes> read_file(const std::filesystem::path& path);

// Reads from the position of the open descriptor `fd` to the end of its
// file. A buffer of `size_hint` bytes is allocated first, so a file of
// exactly that size is read with no copy; a longer one grows the buffer.
[[nodiscard]] Result<Bytes> read_to_end(int fd, std::size_t size_hint);

// True when the system would read `path` as a shorter one: it ends a path
// at the first NUL character, so such a path names no entry of its own.
[[nodiscard]] bool holds_nul(const std::filesystem::path& path) noexcept;

}  // namespace velmoran::raw
