// The decoded range as an I/O region of the emulator that permits no access. Unicorn 2.0.1 then
// takes its slow path for these pages only (a load or store hook would send every load and store of
// the whole program down that path), and its permission hooks see each access whole, before it
// splits an unaligned one: a load into the two aligned units around it (each announced to the
// permission hook again, then read from the region), a store into one byte store per byte (each
// announced again, then written to the region). The hook passes the whole access to the platform
// and counts the parts off; the region hands a load the bytes the platform answered and drops
// stores, which the platform has already seen.
#include "sim/ia32/DecodedRange.h"

#include <algorithm>

#include "sim/ia32/Pe32Loader.h"

namespace sim::ia32 {

namespace {

void check(uc_err err, const char* what) {
  if (err != UC_ERR_OK) {
    throw ImageError(std::string("the CPU emulator refused to ") + what + ": " + uc_strerror(err));
  }
}

}  // namespace

DecodedRange::DecodedRange(uc_engine* uc, MemHandler& bus) : bus_(bus) {
  check(uc_mmio_map(uc, kBase, kSize, on_region_read, this, on_region_write, this), "map the decoded range");
  check(uc_mem_protect(uc, kBase, kSize, UC_PROT_NONE), "protect the decoded range");
  uc_hook hook;
  check(uc_hook_add(uc, &hook, UC_HOOK_MEM_READ_PROT | UC_HOOK_MEM_WRITE_PROT,
                    reinterpret_cast<void*>(on_access), this, kBase, kBase + kSize - 1),
        "hook the decoded range");
}

bool DecodedRange::on_access(uc_engine*, uc_mem_type type, std::uint64_t address, int size,
                             std::int64_t value, void* self) {
  auto& range = *static_cast<DecodedRange*>(self);
  const auto n = static_cast<unsigned>(size);
  if (!range.is_part(address, n)) {
    if (type == UC_MEM_WRITE_PROT) {
      range.store(address, n, static_cast<std::uint64_t>(value));
    } else {
      range.load(address, n);
    }
  }
  return true;  // the region completes the access
}

bool DecodedRange::is_part(std::uint64_t address, unsigned size) {
  if (parts_left_ > 0 && address >= parts_from_ && address + size <= parts_to_) {
    parts_left_--;
    return true;
  }
  parts_left_ = 0;
  return false;
}

// An access wider than a dword (none in a 32-bit image without SSE or MMX) reaches the platform as
// dwords, lowest first.
void DecodedRange::load(std::uint64_t address, unsigned size) {
  size = std::min(size, 8u);
  address_ = address;
  size_ = size;
  value_ = 0;
  for (unsigned at = 0; at < size; at += 4) {
    const unsigned n = std::min(size - at, 4u);
    value_ |= std::uint64_t{bus_.mem_read(static_cast<std::uint32_t>(address + at), width_of(n))} << (8 * at);
  }
  const bool split = (address & (size - 1)) != 0;  // sizes are powers of two
  parts_from_ = address & ~std::uint64_t{size - 1};
  parts_to_ = parts_from_ + 2 * size;
  parts_left_ = split ? 2 : 0;
}

void DecodedRange::store(std::uint64_t address, unsigned size, std::uint64_t value) {
  size = std::min(size, 8u);
  address_ = address;
  size_ = size;
  for (unsigned at = 0; at < size; at += 4) {
    const unsigned n = std::min(size - at, 4u);
    bus_.mem_write(static_cast<std::uint32_t>(address + at), width_of(n),
                   static_cast<std::uint32_t>(value >> (8 * at)) & all_ones(width_of(n)));
  }
  const bool split = (address & (size - 1)) != 0;
  parts_from_ = address;
  parts_to_ = address + size;
  parts_left_ = split ? size : 0;
}

// A region access that is the whole access means the emulator did not split it: no parts follow.
std::uint64_t DecodedRange::on_region_read(uc_engine*, std::uint64_t offset, unsigned size, void* self) {
  auto& range = *static_cast<DecodedRange*>(self);
  const std::uint64_t address = kBase + offset;
  if (address == range.address_ && size == range.size_) {
    range.parts_left_ = 0;
    return range.value_;
  }
  std::uint64_t v = 0;
  for (unsigned i = size; i-- > 0;) {
    const std::uint64_t at = address + i;
    const bool ours = at >= range.address_ && at < range.address_ + range.size_;
    v = v << 8 | (ours ? (range.value_ >> (8 * (at - range.address_))) & 0xFF : 0xFF);
  }
  return v;
}

void DecodedRange::on_region_write(uc_engine*, std::uint64_t offset, unsigned size, std::uint64_t,
                                   void* self) {
  auto& range = *static_cast<DecodedRange*>(self);
  if (kBase + offset == range.address_ && size == range.size_) {
    range.parts_left_ = 0;
  }
}

}  // namespace sim::ia32
