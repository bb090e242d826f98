// The reading library's one error value: an I/O failure as the file layer
// reported it, or a parse failure with a fixed message.
#pragma once

#include <iosfwd>
#include <string>

#include <velmoran/visibility.hpp>

namespace velmoran {

class VELMORAN_EXPORT Error {
 public:
  enum class Kind { Io, Parse };
  // What an Io error carries: an operating-system error number, or a kind
  // with a message text of its own.
  enum class IoKind { Os, UnexpectedEof };

  // Io with the system's error number (as errno gives it).
  [[nodiscard]] static Error os(int errnum);
  // Io "failed to fill whole buffer", of the kind unexpected end of file.
  [[nodiscard]] static Error unexpected_eof();
  // Parse with an owned message text.
  [[nodiscard]] static Error parse(std::string message);
  // Parse with an owned message text, for a check that failed because of
  // the system error `errnum` (a directory that could not be found): the
  // text stays the message alone, the number is there for callers that
  // report errors by number.
  [[nodiscard]] static Error parse(std::string message, int errnum);

  [[nodiscard]] Kind kind() const noexcept { return kind_; }
  [[nodiscard]] bool is_io() const noexcept { return kind_ == Kind::Io; }
  [[nodiscard]] bool is_parse() const noexcept { return kind_ == Kind::Parse; }
  [[nodiscard]] IoKind io_kind() const noexcept { return io_kind_; }
  // The operating-system error number behind the error: an Os error's, or
  // the one a Parse error was made with; 0 when there is none.
  [[nodiscard]] int os_error() const noexcept { return errnum_; }
  // The detail: the parse message, or the I/O failure's own text.
  [[nodiscard]] const std::string& detail() const noexcept { return detail_; }

  // "I/O error: {detail}" or "parse error: {detail}".
  [[nodiscard]] std::string text() const;

  friend bool operator==(const Error&, const Error&) = default;

 private:
  Error(Kind kind, IoKind io_kind, int errnum, std::string detail)
      : kind_(kind), io_kind_(io_kind), errnum_(errnum), detail_(std::move(detail)) {}

  Kind kind_;
  IoKind io_kind_;
  int errnum_;
  std::string detail_;
};

// Writes the error's text into the stream; only the stream's own state
// reports a failure.
VELMORAN_EXPORT std::ostream& operator<<(std::ostream& out, const Error& error);

}  // namespace velmoran
