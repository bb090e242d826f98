// DecodeAhead: reads and decodes the spectra of chosen scans on worker
// threads, ahead of a consumer that takes them in order. At most `window`
// spectra are decoded and not yet taken, so memory does not grow with the
// run. No Python here: the workers never touch the interpreter.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include <velmoran/reader.hpp>

namespace velmoran::arrays {

class DecodeAhead {
 public:
  // Workers start with the first call of next().
  DecodeAhead(std::shared_ptr<const Reader> reader, std::vector<std::size_t> positions,
              unsigned threads);
  DecodeAhead(const DecodeAhead&) = delete;
  DecodeAhead& operator=(const DecodeAhead&) = delete;
  // Stops the workers and waits for them.
  ~DecodeAhead();

  // The next spectrum in order, nullopt after the last. Blocks until it is
  // decoded; a failure of its decoding (std::bad_alloc) is rethrown here.
  // Several threads may call it at once: each spectrum goes to one of them.
  [[nodiscard]] std::optional<ScanSpectrum> next();

 private:
  struct Slot {
    std::optional<ScanSpectrum> spectrum;
    std::exception_ptr failure;
  };

  void work();

  std::shared_ptr<const Reader> reader_;
  std::vector<std::size_t> positions_;
  unsigned thread_count_;
  std::vector<Slot> slots_;  // spectrum k waits in slot k % window

  std::mutex consumer_mutex_;  // one consumer at a time takes the next spectrum
  std::mutex mutex_;
  std::condition_variable work_ready_;   // a worker may claim the next spectrum
  std::condition_variable slot_filled_;  // a spectrum was decoded
  std::size_t claimed_ = 0;              // spectra claimed by workers
  std::size_t taken_ = 0;                // spectra handed to the consumer
  bool stopping_ = false;
  std::vector<std::thread> workers_;
};

}  // namespace velmoran::arrays
