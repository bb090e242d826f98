// Result<T>: either a value or an Error. The library's fallible operations
// return one: every failure of the data or of the file system is an Error.
// Running out of memory is not: an allocation that fails throws
// std::bad_alloc out of the library. A legitimate block may expand far
// beyond its size on disk (a 48 MB profile block up to 4 GiB), and a caller
// is better told that memory ran out than handed a silently empty scan.
#pragma once

#include <utility>
#include <variant>

#include <velmoran/error.hpp>

namespace velmoran {

template <class T>
class [[nodiscard]] Result {
 public:
  Result(T value)
      : state_(std::in_place_index<0>, std::move(value)) {}  // NOLINT(google-explicit-constructor)
  Result(Error error)
      : state_(std::in_place_index<1>, std::move(error)) {}  // NOLINT(google-explicit-constructor)

  [[nodiscard]] bool has_value() const noexcept { return state_.index() == 0; }
  explicit operator bool() const noexcept { return has_value(); }

  [[nodiscard]] T& value() & { return *std::get_if<0>(&state_); }
  [[nodiscard]] const T& value() const& { return *std::get_if<0>(&state_); }
  [[nodiscard]] T&& value() && { return std::move(*std::get_if<0>(&state_)); }

  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }
  T&& operator*() && { return std::move(*this).value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }

  [[nodiscard]] const Error& error() const& { return *std::get_if<1>(&state_); }
  [[nodiscard]] Error&& error() && { return std::move(*std::get_if<1>(&state_)); }

 private:
  std::variant<T, Error> state_;
};

}  // namespace velmoran
