// Progress drawn with a carriage return over the same terminal line.
#include "tools/recovery-sim/ProgressBar.h"

#include <algorithm>
#include <cstdio>

namespace rsim {

namespace {
constexpr int kWidth = 30;
}

ProgressBar::ProgressBar(bool enabled, std::string unit)
    : enabled_(enabled), unit_(std::move(unit)), start_(std::chrono::steady_clock::now()) {}

void ProgressBar::update(std::uint64_t done, std::uint64_t total, const std::string& detail) {
  done_ = done;
  total_ = total;
  detail_ = detail;
  if (!enabled_) {
    return;
  }
  auto now = std::chrono::steady_clock::now();
  if (now - start_ < std::chrono::seconds(1) || now - last_ < std::chrono::milliseconds(100)) {
    return;
  }
  last_ = now;
  draw(done, total, detail);
}

void ProgressBar::draw(std::uint64_t done, std::uint64_t total, const std::string& detail) {
  shown_ = true;
  int filled = total == 0 ? 0 : static_cast<int>(std::min(done, total) * kWidth / total);
  std::fprintf(stderr, "\r\033[K[%-*s] %llu/%llu %s  %s", kWidth, std::string(filled, '#').c_str(),
               static_cast<unsigned long long>(done), static_cast<unsigned long long>(total), unit_.c_str(),
               detail.c_str());
  std::fflush(stderr);
}

void ProgressBar::finish() {
  if (shown_) {
    draw(done_, total_, detail_);
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    shown_ = false;
  }
}

}  // namespace rsim
