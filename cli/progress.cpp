#include "progress.hpp"

#include <unistd.h>

#include <cstdio>

namespace velmoran::cli {

namespace {

constexpr int kBarWidth = 30;
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);

void write_all(const std::string& text) {
  const char* p = text.data();
  std::size_t left = text.size();
  while (left > 0) {
    const ssize_t n = ::write(STDERR_FILENO, p, left);
    if (n <= 0) return;  // a progress bar is not worth an error
    p += n;
    left -= static_cast<std::size_t>(n);
  }
}

}  // namespace

ProgressBar::ProgressBar(std::string label, bool enabled)
    : label_(std::move(label)),
      enabled_(enabled),
      start_(std::chrono::steady_clock::now()),
      last_draw_(start_) {}

ProgressBar::~ProgressBar() { clear(); }

void ProgressBar::update(std::uint64_t done, std::uint64_t total) {
  if (!enabled_) return;
  const auto now = std::chrono::steady_clock::now();
  if (shown_ && now - last_draw_ < kRedrawInterval && done != total) return;
  last_draw_ = now;
  const double fraction = total == 0 ? 1.0 : static_cast<double>(done) / static_cast<double>(total);
  const int filled = static_cast<int>(fraction * kBarWidth);
  const double seconds = std::chrono::duration<double>(now - start_).count();
  const double rate = seconds > 0.0 ? static_cast<double>(done) / seconds : 0.0;
  std::string line = "\r" + label_ + " [";
  line.append(static_cast<std::size_t>(filled), '#');
  line.append(static_cast<std::size_t>(kBarWidth - filled), '.');
  char tail[96];
  std::snprintf(tail, sizeof tail, "] %llu/%llu scans, %.0f scans/s\x1b[K",
                static_cast<unsigned long long>(done), static_cast<unsigned long long>(total),
                rate);
  line += tail;
  write_all(line);
  shown_ = true;
}

void ProgressBar::clear() {
  if (!shown_) return;
  write_all("\r\x1b[K");
  shown_ = false;
}

}  // namespace velmoran::cli
