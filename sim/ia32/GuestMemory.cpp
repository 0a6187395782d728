// Host mappings below 2 GiB shared with the emulator (uc_mem_map_ptr), identity-addressed, with
// guest stores performed by a hook.
#include "sim/ia32/GuestMemory.h"

#include <sys/mman.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "sim/ia32/Pe32Loader.h"

namespace sim::ia32 {

namespace {
std::uint64_t round_up(std::uint64_t n) { return (n + GuestMemory::kPage - 1) & ~(GuestMemory::kPage - 1); }

constexpr std::uint64_t kLowest = 0x10000;  // below lies what a host never maps

// Fresh zeroed host memory at exactly `address`, or null when the range is in use.
void* map_fixed(std::uint64_t address, std::uint64_t size) {
  void* p = mmap(reinterpret_cast<void*>(address), size, PROT_READ | PROT_WRITE,
                 MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
  if (p == MAP_FAILED) {
    return nullptr;
  }
  if (p != reinterpret_cast<void*>(address)) {  // a kernel that takes the fixed address as a hint
    munmap(p, size);
    return nullptr;
  }
  return p;
}

std::string hex(std::uint64_t v) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "0x%08llX", static_cast<unsigned long long>(v));
  return buf;
}

// A guest store to RAM. Unicorn 2.0.1 runs its self-modifying-code check, with heap-allocated
// bookkeeping, on every store to writable RAM; a store to write-protected RAM is dropped instead,
// after this hook has seen it whole, and writing host memory here costs well under half as much.
// The module never writes its own code, so no check is lost. An unaligned store is followed by one
// byte store per byte (the emulator splits it, the page not being plain writable memory), each of
// which arrives here too; those bytes carry the whole store, so the unaligned access writes
// nothing itself. An aligned store never crosses a page, and every mapped page is host memory at
// the same address.
bool on_store(uc_engine*, uc_mem_type, std::uint64_t address, int size, std::int64_t value, void*) {
  if ((address & static_cast<std::uint64_t>(size - 1)) != 0) {  // sizes are powers of two
    return true;
  }
  void* at = reinterpret_cast<void*>(address);
  switch (size) {  // fixed-size copies: this runs for every store the program makes
    case 1:
      *static_cast<std::uint8_t*>(at) = static_cast<std::uint8_t>(value);
      break;
    case 2:
      std::memcpy(at, &value, 2);
      break;
    case 4:
      std::memcpy(at, &value, 4);
      break;
    default:
      std::memcpy(at, &value, 8);
      break;
  }
  return true;
}

}  // namespace

GuestMemory::GuestMemory(uc_engine* uc) : uc_(uc) {
  uc_hook hook;
  if (uc_hook_add(uc_, &hook, UC_HOOK_MEM_WRITE_PROT, reinterpret_cast<void*>(on_store), nullptr, 0,
                  kRamLimit - 1) != UC_ERR_OK) {
    throw ImageError("the CPU emulator refused the RAM store hook");
  }
}

GuestMemory::~GuestMemory() {
  for (const Block& b : blocks_) {
    if (b.owned) {
      munmap(reinterpret_cast<void*>(b.address), b.size);
    }
  }
}

void GuestMemory::map(std::uint64_t address, std::uint64_t size, bool owned) {
  uc_err err = map_ram(address, size);
  if (err != UC_ERR_OK) {
    if (owned) {
      munmap(reinterpret_cast<void*>(address), size);
    }
    throw ImageError("the emulator cannot map RAM at " + hex(address) + ": " + uc_strerror(err));
  }
  blocks_.push_back(Block{address, size, owned});
}

std::uint8_t* GuestMemory::place(std::uint32_t address, std::uint64_t size, std::uint64_t workspace) {
  size = round_up(size);
  workspace = round_up(workspace);
  if (address % kPage != 0 || address + size > kRamLimit || address < kLowest) {
    throw ImageError("cannot load at " + hex(address) + ": the image must lie page-aligned between " +
                     hex(kLowest) + " and " + hex(kRamLimit) + ", where the platform decodes nothing");
  }
  if (workspace > 0 && address >= kLowest + workspace) {
    if (void* p = map_fixed(address - workspace, workspace + size)) {
      map(address - workspace, workspace + size, true);
      workspace_base_ = address - workspace;
      workspace_top_ = address;
      return static_cast<std::uint8_t*>(p) + workspace;
    }
  }
  void* p = map_fixed(address, size);
  if (p == nullptr) {
    throw ImageError("cannot load at " + hex(address) +
                     ": that range is in use on this host; choose another base");
  }
  map(address, size, true);
  if (workspace > 0) {
    workspace_base_ = reinterpret_cast<std::uintptr_t>(map_anywhere(workspace));
    workspace_top_ = workspace_base_ + workspace;
  }
  return static_cast<std::uint8_t*>(p);
}

std::uint8_t* GuestMemory::allocate(std::uint64_t size) {
  size = round_up(size);
  if (workspace_top_ - workspace_base_ >= size) {
    workspace_top_ -= size;
    return reinterpret_cast<std::uint8_t*>(workspace_top_);
  }
  return map_anywhere(size);
}

std::uint8_t* GuestMemory::map_anywhere(std::uint64_t size) {
  void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_32BIT, -1, 0);
  if (p == MAP_FAILED) {
    throw ImageError("no host memory below 2 GiB for the emulated PC's RAM");
  }
  std::uint64_t address = reinterpret_cast<std::uintptr_t>(p);
  if (address + size > kRamLimit) {
    munmap(p, size);
    throw ImageError("the host placed emulated RAM at " + hex(address) + ", above 2 GiB");
  }
  map(address, size, true);
  return static_cast<std::uint8_t*>(p);
}

bool GuestMemory::adopt(std::uint64_t address, std::uint64_t size) {
  std::uint64_t first = address & ~(kPage - 1);
  std::uint64_t end = round_up(address + size);
  if (contains(address, size)) {
    return true;
  }
  if (end > kRamLimit) {
    return false;
  }
  // Host allocations are whole pages of their own, so the rounded range belongs to this block. A
  // hostile core's block may overlap one adopted before: only the pages not mapped yet are mapped,
  // and the whole range is then one block.
  for (std::uint64_t page = first; page < end;) {
    if (contains(page, kPage)) {
      page += kPage;
      continue;
    }
    std::uint64_t gap_end = page + kPage;
    while (gap_end < end && !contains(gap_end, kPage)) {
      gap_end += kPage;
    }
    if (map_ram(page, gap_end - page) != UC_ERR_OK) {
      return false;
    }
    page = gap_end;
  }
  blocks_.push_back(Block{first, end - first, false});
  return true;
}

uc_err GuestMemory::map_ram(std::uint64_t address, std::uint64_t size) {
  uc_err err = uc_mem_map_ptr(uc_, address, size, UC_PROT_ALL, reinterpret_cast<void*>(address));
  if (err != UC_ERR_OK) {
    return err;
  }
  // Protection set after mapping is what makes the emulator drop the store itself.
  err = uc_mem_protect(uc_, address, size, UC_PROT_READ | UC_PROT_EXEC);
  if (err != UC_ERR_OK) {
    uc_mem_unmap(uc_, address, size);
  }
  return err;
}

bool GuestMemory::contains(std::uint64_t address, std::uint64_t size) const {
  for (const Block& b : blocks_) {
    if (address >= b.address && address + size <= b.address + b.size) {
      return true;
    }
  }
  return false;
}

}  // namespace sim::ia32
