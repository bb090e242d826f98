#include "spectrum_cache.hpp"

namespace velmoran::view {

std::shared_ptr<const std::string> SpectrumCache::find(std::size_t index) {
  const std::lock_guard lock(mutex_);
  const auto found = by_index_.find(index);
  if (found == by_index_.end()) return nullptr;
  entries_.splice(entries_.begin(), entries_, found->second);
  return found->second->second;
}

void SpectrumCache::insert(std::size_t index, std::shared_ptr<const std::string> text) {
  const std::size_t size = text->size();
  if (size > capacity_) return;
  const std::lock_guard lock(mutex_);
  if (by_index_.count(index) != 0) return;  // another thread was first
  while (bytes_ + size > capacity_) {
    bytes_ -= entries_.back().second->size();
    by_index_.erase(entries_.back().first);
    entries_.pop_back();
  }
  entries_.emplace_front(index, std::move(text));
  by_index_.emplace(index, entries_.begin());
  bytes_ += size;
}

std::size_t SpectrumCache::bytes() const {
  const std::lock_guard lock(mutex_);
  return bytes_;
}

}  // namespace velmoran::view
