// Hostile answers applied over a truthful device's reads.
#include "sim/HostileDevice.h"

namespace sim {

HostileDevice::HostileDevice(Platform& platform, IoHandler* io, MemHandler* mem)
    : platform_(platform), io_(io), mem_(mem) {
  if (io_ != nullptr) platform.interpose(io_, this);
  if (mem_ != nullptr) platform.interpose(mem_, this);
}

std::uint32_t HostileDevice::answer(std::uint32_t address, std::uint32_t truth) {
  std::uint32_t value = truth;
  for (Armed& a : answers_) {
    const HostileAnswer& h = a.answer;
    if (!h.any_address && (address & 0xFFFF) != h.address_low) continue;
    const std::uint64_t n = a.seen++;
    if (n < h.first || n - h.first >= h.count) continue;
    switch (h.twist) {
      case Twist::Replace:
        value = h.value;
        break;
      case Twist::Xor:
        value ^= h.value;
        break;
      case Twist::And:
        value &= h.value;
        break;
      case Twist::Or:
        value |= h.value;
        break;
    }
  }
  if (value != truth) twisted_++;
  return value;
}

}  // namespace sim
