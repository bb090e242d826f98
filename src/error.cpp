#include <velmoran/error.hpp>

#include <cstring>
#include <ostream>

namespace velmoran {

namespace {

// The system's description of an error number, as strerror gives it,
// through the thread-safe GNU strerror_r.
std::string describe_errno(int errnum) {
  char buffer[256];
  const char* text = ::strerror_r(errnum, buffer, sizeof buffer);
  return std::string(text) + " (os error " + std::to_string(errnum) + ")";
}

}  // namespace

Error Error::os(int errnum) { return Error(Kind::Io, IoKind::Os, errnum, describe_errno(errnum)); }

Error Error::unexpected_eof() {
  return Error(Kind::Io, IoKind::UnexpectedEof, 0, "failed to fill whole buffer");
}

Error Error::parse(std::string message) {
  return Error(Kind::Parse, IoKind::Os, 0, std::move(message));
}

Error Error::parse(std::string message, int errnum) {
  return Error(Kind::Parse, IoKind::Os, errnum, std::move(message));
}

std::string Error::text() const {
  return (kind_ == Kind::Io ? "I/O error: " : "parse error: ") + detail_;
}

std::ostream& operator<<(std::ostream& out, const Error& error) { return out << error.text(); }

}  // namespace velmoran
