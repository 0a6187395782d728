// The emulated PC's RAM: every block lives in host memory below 2 GiB and is mapped into the
// emulator at its own host address, so a 32-bit pointer means the same bytes on both sides.
// The emulator sees RAM as read-only and hands each store to a hook that writes host memory.
// Few mappings, the busiest lowest: Unicorn 2.0.1 looks up the mapping of every store, first in
// the lowest mapping, then by binary search.
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
  // reaches the decoded range, or is already in use on this host. `workspace` more bytes are set
  // aside for allocate(), just below `address` in the same mapping when that range is free too.
  std::uint8_t* place(std::uint32_t address, std::uint64_t size, std::uint64_t workspace = 0);
  // Fresh zeroed RAM, from the workspace while it lasts (top down), else wherever the host has room
  // below 2 GiB; its address is its guest address.
  std::uint8_t* allocate(std::uint64_t size);
  // Maps memory the host already owns (a block from the simulated PEI allocators) at its own
  // address, the pages not mapped already. False when it lies at or above kRamLimit or the
  // emulator refuses the mapping.
  bool adopt(std::uint64_t address, std::uint64_t size);
  // True when [address, address + size) lies inside one mapped block.
  bool contains(std::uint64_t address, std::uint64_t size) const;

 private:
  struct Block {
    std::uint64_t address, size;
    bool owned;
  };
  void map(std::uint64_t address, std::uint64_t size, bool owned);
  // A fresh host mapping below 2 GiB, anywhere, mapped into the emulator.
  std::uint8_t* map_anywhere(std::uint64_t size);
  // Maps host memory at its own address, write-protected for the emulator (see on_store).
  uc_err map_ram(std::uint64_t address, std::uint64_t size);

  uc_engine* uc_;
  std::vector<Block> blocks_;
  std::uint64_t workspace_base_ = 0, workspace_top_ = 0;  // what allocate() has left: [base, top)
};

}  // namespace sim::ia32
