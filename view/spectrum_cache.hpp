// The rendered spectra that the server keeps, least recently used dropped
// first once they hold more than a fixed number of bytes. Shared by the
// server's threads.
#pragma once

#include <cstddef>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>

namespace velmoran::view {

class SpectrumCache {
 public:
  explicit SpectrumCache(std::size_t capacity_bytes) : capacity_(capacity_bytes) {}

  // The text kept for `index`, or null.
  [[nodiscard]] std::shared_ptr<const std::string> find(std::size_t index);

  // Keeps `text` for `index` (a text larger than the whole cache is not kept).
  void insert(std::size_t index, std::shared_ptr<const std::string> text);

  [[nodiscard]] std::size_t bytes() const;

 private:
  using Entry = std::pair<std::size_t, std::shared_ptr<const std::string>>;
  mutable std::mutex mutex_;
  std::size_t capacity_;
  std::size_t bytes_ = 0;
  // Most recently used first.
  std::list<Entry> entries_;
  std::unordered_map<std::size_t, std::list<Entry>::iterator> by_index_;
};

}  // namespace velmoran::view
