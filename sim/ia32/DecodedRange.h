// The platform's decoded range (2 GiB up to 4 GiB: configuration window, chipset, flash) as the
// emulated CPU sees it: every load and store there reaches a memory handler exactly once, with the
// address and width the instruction used, aligned or not, also across a page boundary.
#pragma once

#include <unicorn/unicorn.h>

#include <cstdint>

#include "sim/Bus.h"

namespace sim::ia32 {

// The bus width of an access of `size` bytes (1, 2 or 4) as the emulator reports it.
inline Width width_of(unsigned size) {
  return size == 1 ? Width::Byte : size == 2 ? Width::Word : Width::Dword;
}

class DecodedRange {
 public:
  static constexpr std::uint64_t kBase = 0x80000000;
  static constexpr std::uint64_t kSize = std::uint64_t{1} << 31;

  // Maps the range into `uc` and routes its accesses to `bus`, which must outlive the emulation.
  // Throws ImageError when the emulator refuses the mapping or a hook.
  DecodedRange(uc_engine* uc, MemHandler& bus);
  DecodedRange(const DecodedRange&) = delete;
  DecodedRange& operator=(const DecodedRange&) = delete;

 private:
  static bool on_access(uc_engine*, uc_mem_type type, std::uint64_t address, int size, std::int64_t value,
                        void* self);
  static std::uint64_t on_region_read(uc_engine*, std::uint64_t offset, unsigned size, void* self);
  static void on_region_write(uc_engine*, std::uint64_t offset, unsigned size, std::uint64_t value,
                              void* self);

  // True when [address, address + size) is one of the parts the emulator splits the access in
  // flight into; counts it off.
  bool is_part(std::uint64_t address, unsigned size);
  void load(std::uint64_t address, unsigned size);
  void store(std::uint64_t address, unsigned size, std::uint64_t value);

  MemHandler& bus_;
  // The access in flight: its value (a load's answer from the platform, lowest byte first) and,
  // when the emulator splits it, the span its parts cover and how many are still to come.
  std::uint64_t address_ = 0;
  unsigned size_ = 0;
  std::uint64_t value_ = 0;
  std::uint64_t parts_from_ = 0, parts_to_ = 0;
  unsigned parts_left_ = 0;
};

}  // namespace sim::ia32
