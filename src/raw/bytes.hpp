// Byte buffers and little-endian field loads shared by the format readers.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <type_traits>

namespace velmoran::raw {

static_assert(std::endian::native == std::endian::little,
              "the field loads assume a little-endian machine");

using ByteView = std::span<const std::uint8_t>;

// Loads a little-endian value of type T at `offset` of `bytes`, at any
// alignment. The caller has checked that offset + sizeof(T) fits.
template <class T>
[[nodiscard]] inline T load_le(ByteView bytes, std::size_t offset) noexcept {
  static_assert(std::is_trivially_copyable_v<T>);
  T value;
  std::memcpy(&value, bytes.data() + offset, sizeof value);
  return value;
}

// Loads a little-endian value from a raw pointer (hot loops, bounds proven
// by the caller).
template <class T>
[[nodiscard]] inline T load_le(const std::uint8_t* p) noexcept {
  static_assert(std::is_trivially_copyable_v<T>);
  T value;
  std::memcpy(&value, p, sizeof value);
  return value;
}

// An owned byte array allocated once at its final size and left
// uninitialised: every producer writes it whole before handing it out.
class Bytes {
 public:
  Bytes() = default;
  explicit Bytes(std::size_t size)
      : data_(size == 0 ? nullptr : std::make_unique_for_overwrite<std::uint8_t[]>(size)),
        size_(size) {}

  [[nodiscard]] std::uint8_t* data() noexcept { return data_.get(); }
  [[nodiscard]] const std::uint8_t* data() const noexcept { return data_.get(); }
  [[nodiscard]] std::size_t size() const noexcept { return size_; }
  [[nodiscard]] bool empty() const noexcept { return size_ == 0; }
  [[nodiscard]] ByteView view() const noexcept { return {data_.get(), size_}; }
  operator ByteView() const noexcept { return view(); }  // NOLINT(google-explicit-constructor)

  // Shortens the logical size; the allocation is kept.
  void truncate(std::size_t size) noexcept {
    if (size < size_) size_ = size;
  }

 private:
  std::unique_ptr<std::uint8_t[]> data_;
  std::size_t size_ = 0;
};

}  // namespace velmoran::raw
