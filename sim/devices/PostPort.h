// The POST-code port 0x80: every byte written, in order, with the time it was written.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "sim/Bus.h"

namespace sim {

class Platform;

class PostPort : public IoHandler {
 public:
  explicit PostPort(const Platform& platform) : platform_(platform) {}
  std::uint32_t io_read(std::uint16_t port, Width w) override;
  void io_write(std::uint16_t port, Width w, std::uint32_t value) override;

  const std::vector<std::uint8_t>& codes() const { return codes_; }
  const std::vector<Nanos>& times() const { return times_; }
  // Called after every byte written (a progress display watches the chunk counter).
  std::function<void(std::uint8_t)> on_write;
  void clear() {
    codes_.clear();
    times_.clear();
  }

 private:
  const Platform& platform_;
  std::vector<std::uint8_t> codes_;
  std::vector<Nanos> times_;
};

}  // namespace sim
