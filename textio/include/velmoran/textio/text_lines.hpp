// The lines of a small text file the user names (targets, a transition
// list), read with a bound: the file is refused when it is larger than the
// caller's bound (a regular file at once, from its size; a pipe or a device
// such as /dev/zero after that many bytes) or when it holds a NUL byte (not
// text: UTF-16, a binary file, /dev/zero), so it never reads for ever.
// Lines are handed over one at a time, so the caller keeps what it makes
// of them and never the whole text.
//
// A line ends at LF; a CR before the LF is dropped, a UTF-8 byte-order mark
// at the start of the file too; the last line needs no LF. Lines count
// from 1.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string_view>

#include <velmoran/error.hpp>

namespace velmoran::textio {

// A line holds at most kMaxLineBytes (a name or a row is far shorter), so
// what is kept of an unfinished line stays small whatever the file holds.
inline constexpr std::size_t kMaxLineBytes = std::size_t{1} << 20;

// What to do with one line: nullopt to go on, or the error that stops.
using LineVisitor =
    std::function<std::optional<Error>(std::size_t line_number, std::string_view line)>;

// Every line of `text`; a NUL byte is an error naming `file_name`.
[[nodiscard]] std::optional<Error> for_each_line(std::string_view text, std::string_view file_name,
                                                 const LineVisitor& visit);

// Every line of `file`, at most `max_bytes` (whole MiB) of it. Errors are Parse errors
// whose text starts with the file's name (with the errno of a failed call).
[[nodiscard]] std::optional<Error> read_lines(const std::filesystem::path& file,
                                              std::uint64_t max_bytes, const LineVisitor& visit);

}  // namespace velmoran::textio
