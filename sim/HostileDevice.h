// A decorator installed between the platform and a device model: every access still reaches the
// truthful model, but chosen reads are answered otherwise (a part that answers garbage, a status
// that never settles, a timer that stops), as a board in need of a recovery may behave.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "sim/Bus.h"
#include "sim/Platform.h"

namespace sim {

enum class Twist : std::uint8_t { Replace, Xor, And, Or };

// One hostile answer: reads number `first` to `first + count - 1` of this device (counted from 0
// over the reads it matches) get `value` applied by `twist`.
struct HostileAnswer {
  bool any_address = true;
  std::uint16_t address_low = 0;  // when !any_address: only reads whose address' low 16 bits match
  std::uint64_t first = 0;
  std::uint32_t count = 1;
  Twist twist = Twist::Replace;
  std::uint32_t value = 0;
};

class HostileDevice : public IoHandler, public MemHandler {
 public:
  // Decorates the faces that are given (either may be null). Installs itself on `platform`.
  HostileDevice(Platform& platform, IoHandler* io, MemHandler* mem);
  HostileDevice(const HostileDevice&) = delete;
  HostileDevice& operator=(const HostileDevice&) = delete;
  void add(const HostileAnswer& answer) { answers_.push_back(Armed{answer, 0}); }
  // Called for every memory write that passes through (the referee watches stores this way).
  void on_mem_write(std::function<void(std::uint32_t address, Width w)> observer) {
    mem_write_observer_ = std::move(observer);
  }
  // Every access to the device takes `ns` longer (a slow bus to it: fewer polls fill a delay).
  void set_extra_cost(Nanos ns) { extra_cost_ = ns; }
  // How many reads were answered otherwise than the device answered them.
  std::uint64_t twisted() const { return twisted_; }

  std::uint32_t io_read(std::uint16_t port, Width w) override {
    const std::uint32_t truth = io_->io_read(port, w);
    platform_.advance(extra_cost_);
    return answer(port, truth);
  }
  void io_write(std::uint16_t port, Width w, std::uint32_t value) override {
    io_->io_write(port, w, value);
    platform_.advance(extra_cost_);
  }
  std::uint32_t mem_read(std::uint32_t address, Width w) override {
    const std::uint32_t truth = mem_->mem_read(address, w);
    platform_.advance(extra_cost_);
    return answer(address, truth);
  }
  void mem_write(std::uint32_t address, Width w, std::uint32_t value) override {
    if (mem_write_observer_) mem_write_observer_(address, w);
    mem_->mem_write(address, w, value);
    platform_.advance(extra_cost_);
  }

 private:
  struct Armed {
    HostileAnswer answer;
    std::uint64_t seen;  // matching reads so far
  };
  std::uint32_t answer(std::uint32_t address, std::uint32_t truth);

  Platform& platform_;
  IoHandler* io_;
  MemHandler* mem_;
  Nanos extra_cost_ = 0;
  std::vector<Armed> answers_;
  std::uint64_t twisted_ = 0;
  std::function<void(std::uint32_t, Width)> mem_write_observer_;
};

}  // namespace sim
