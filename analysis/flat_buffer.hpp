// FlatBuffer<T>: one array of T in memory of its own, mapped from the
// system, that grows in place or by moving its pages (mremap), never by
// copying its contents. Pages are taken only where written, so a generous
// capacity costs address space, not memory; large buffers ask for huge
// pages, which cut the cost of first touching hundreds of megabytes.
#pragma once

#include <sys/mman.h>

#include <cstddef>
#include <memory>
#include <new>
#include <utility>

namespace velmoran::analysis {

template <class T>
class FlatBuffer {
 public:
  FlatBuffer() = default;
  FlatBuffer(const FlatBuffer&) = delete;
  FlatBuffer& operator=(const FlatBuffer&) = delete;
  ~FlatBuffer() { unmap(data_, capacity_); }

  [[nodiscard]] T* data() noexcept { return data_; }
  [[nodiscard]] std::size_t capacity() const noexcept { return capacity_; }

  // Makes room for at least `count` items, keeping the ones written.
  // Throws std::bad_alloc when the system has no room.
  void reserve(std::size_t count) {
    if (count <= capacity_) return;
    if (count > kMaxCount) throw std::bad_alloc();
    void* moved = capacity_ == 0 ? ::mmap(nullptr, bytes(count), PROT_READ | PROT_WRITE,
                                          MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0)
                                 : ::mremap(data_, bytes(capacity_), bytes(count), MREMAP_MAYMOVE);
    if (moved == MAP_FAILED) throw std::bad_alloc();
    data_ = static_cast<T*>(moved);
    capacity_ = count;
#ifdef MADV_HUGEPAGE
    // Advice only: where the system has no huge pages, small ones serve.
    ::madvise(moved, bytes(count), MADV_HUGEPAGE);
#endif
  }

  // Gives the first `count` items to a shared owner that unmaps them, and
  // returns the rest of the capacity to the system.
  [[nodiscard]] std::shared_ptr<const void> release(std::size_t count) noexcept {
    if (count == 0) {
      unmap(std::exchange(data_, nullptr), std::exchange(capacity_, 0));
      return nullptr;
    }
    if (count < capacity_) {
      void* shrunk = ::mremap(data_, bytes(capacity_), bytes(count), 0);
      // Shrinking in place does not fail on Linux; should it, keep it all.
      if (shrunk != MAP_FAILED) capacity_ = count;
    }
    const std::size_t mapped = bytes(std::exchange(capacity_, 0));
    T* data = std::exchange(data_, nullptr);
    try {
      return std::shared_ptr<const void>(
          data, [mapped](const void* p) { ::munmap(const_cast<void*>(p), mapped); });
    } catch (...) {
      ::munmap(data, mapped);
      return nullptr;
    }
  }

 private:
  static constexpr std::size_t kMaxCount = (std::size_t{1} << 62) / sizeof(T);

  static std::size_t bytes(std::size_t count) noexcept { return count * sizeof(T); }
  static void unmap(T* data, std::size_t count) noexcept {
    if (data) ::munmap(data, bytes(count));
  }

  T* data_ = nullptr;
  std::size_t capacity_ = 0;
};

}  // namespace velmoran::analysis
