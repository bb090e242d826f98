// Result<T>: either a value or an Error. The library's fallible operations
// return one; no exception crosses the library's interface.
#pragma once

#include <utility>
#include <variant>

#include <velmoran/error.hpp>

namespace velmoran {

template <class T>
class [[nodiscard]] Result {
 public:
  Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}      // NOLINT(google-explicit-constructor)
  Result(Error error) : state_(std::in_place_index<1>, std::move(error)) {}  // NOLINT(google-explicit-constructor)

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
