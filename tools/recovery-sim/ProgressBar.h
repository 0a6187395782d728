// A one-line progress bar on stderr for runs longer than a second, drawn only on a terminal.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <utility>

namespace rsim {

class ProgressBar {
 public:
  // `unit` names what is counted ("chunks", "rehearsals").
  ProgressBar(bool enabled, std::string unit);
  ~ProgressBar() { finish(); }
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;

  // Redraws at most ten times a second, and not during the first second.
  void update(std::uint64_t done, std::uint64_t total, const std::string& detail);
  // Draws the real final count, then clears the line so that what follows starts on a clean one.
  void finish();

 private:
  void draw(std::uint64_t done, std::uint64_t total, const std::string& detail);

  bool enabled_;
  bool shown_ = false;
  std::string unit_;
  std::uint64_t done_ = 0, total_ = 0;
  std::string detail_;
  std::chrono::steady_clock::time_point start_, last_{};
};

}  // namespace rsim
