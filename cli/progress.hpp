// A one-line progress bar on standard error, redrawn at most ten times a
// second; shown only when standard error is a terminal.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace velmoran::cli {

class ProgressBar {
 public:
  // `label` names what is being worked on; `enabled` false makes every call
  // do nothing.
  ProgressBar(std::string label, bool enabled);
  ~ProgressBar();
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;

  void update(std::uint64_t done, std::uint64_t total);
  // Erases the bar (before the summary line is printed).
  void clear();

 private:
  std::string label_;
  bool enabled_;
  bool shown_ = false;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point last_draw_;
};

}  // namespace velmoran::cli
