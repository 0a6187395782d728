// The POST-code port 0x80: every byte written, in order, with the time it was written. A POST
// code is one byte; a wider write at 0x80 would also reach the DMA page registers at 0x81-0x83,
// so the latch refuses it (counted, not recorded) and the module's width fault shows.
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
  // Word and dword writes at 0x80, refused.
  std::uint32_t wide_writes() const { return wide_writes_; }
  // Called after every byte written (a progress display watches the chunk counter).
  std::function<void(std::uint8_t)> on_write;
  void clear() {
    codes_.clear();
    times_.clear();
    wide_writes_ = 0;
  }

 private:
  const Platform& platform_;
  std::vector<std::uint8_t> codes_;
  std::vector<Nanos> times_;
  std::uint32_t wide_writes_ = 0;
};

}  // namespace sim
