// DecodeAhead: reads and decodes the spectra of chosen scans on worker
// threads, ahead of a consumer that takes them in order. At most `window`
// spectra are decoded and not yet taken, so memory does not grow with the
// run. No Python here: the workers never touch the interpreter.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <vector>

#include <velmoran/analysis/peak_mode.hpp>
#include <velmoran/reader.hpp>

namespace velmoran::analysis {

class DecodeAhead {
 public:
  // Workers start with the first call of next(); each spectrum is read in
  // `mode` (read_scan).
  DecodeAhead(std::shared_ptr<const Reader> reader, std::vector<std::size_t> positions,
              unsigned threads, PeakMode mode = PeakMode::kProfile);
  DecodeAhead(const DecodeAhead&) = delete;
  DecodeAhead& operator=(const DecodeAhead&) = delete;
  // Stops the workers and waits for them (in a child process made by
  // fork(), leaves them alone: see resume_after_fork).
  ~DecodeAhead();

  struct Taken {
    bool ready = false;                    // false: not decoded within the wait, call again
    std::optional<ScanSpectrum> spectrum;  // nullopt after the last
  };

  // The next spectrum in order, waiting at most `timeout` for it. A
  // failure of its decoding (std::bad_alloc) is rethrown here. Several
  // threads may call it at once: each spectrum goes to one of them.
  [[nodiscard]] Taken next(std::chrono::milliseconds timeout);
  // The same, waiting as long as it takes: nullopt after the last.
  [[nodiscard]] std::optional<ScanSpectrum> next();

  // In a child process made by fork() the workers do not exist and the
  // locks they used may stay held forever: the child starts workers of its
  // own from the first spectrum not yet taken, and leaves the parent's
  // state untouched (never freed: freeing it could wait on those locks).
  // Does nothing in the process that made the workers. Callers serialize
  // it with every other call (the interpreter lock does).
  void resume_after_fork();

 private:
  struct State;

  // Keeps the parent's state alive and untouched for the life of the child.
  void abandon();

  std::shared_ptr<const Reader> reader_;
  std::vector<std::size_t> positions_;
  unsigned threads_;
  PeakMode mode_;
  pid_t pid_;  // the process whose state_ this is
  std::unique_ptr<State> state_;
};

}  // namespace velmoran::analysis
