// The emulated PC's RAM: every block lives in host memory below 2 GiB and is mapped into the
// emulator at its own host address, so a 32-bit pointer means the same bytes on both sides.
// The emulator sees RAM as read-only and hands each store to a hook that writes host memory.
#pragma once

#include <unicorn/unicorn.h>

#include <cstdint>
#include <vector>

namespace sim::ia32 {

class GuestMemory {
 public:
  // RAM ends where the platform's decoded range (configuration window, chipset, flash) begins.
  static constexpr std::uint64_t kRamLimit = 0x80000000;
  static constexpr std::uint64_t kPage = 4096;

  // Installs the store hook on `uc`; RAM mapped later is covered by it.
  explicit GuestMemory(uc_engine* uc);
  ~GuestMemory();
  GuestMemory(const GuestMemory&) = delete;
  GuestMemory& operator=(const GuestMemory&) = delete;

  // Fresh zeroed RAM at exactly `address`. Throws ImageError when the range is not page aligned,
  // reaches the decoded range, or is already in use on this host.
  std::uint8_t* place(std::uint32_t address, std::uint64_t size);
  // Fresh zeroed RAM wherever the host has room below 2 GiB; its address is its guest address.
  std::uint8_t* allocate(std::uint64_t size);
  // Maps memory the host already owns (a block from the simulated PEI allocators) at its own
  // address. False when it lies at or above kRamLimit or the emulator refuses the mapping.
  bool adopt(std::uint64_t address, std::uint64_t size);
  // True when [address, address + size) lies inside one mapped block.
  bool contains(std::uint64_t address, std::uint64_t size) const;

 private:
  struct Block {
    std::uint64_t address, size;
    bool owned;
  };
  void map(std::uint64_t address, std::uint64_t size, bool owned);
  // Maps host memory at its own address, write-protected for the emulator (see on_store).
  uc_err map_ram(std::uint64_t address, std::uint64_t size);

  uc_engine* uc_;
  std::vector<Block> blocks_;
};

}  // namespace sim::ia32
