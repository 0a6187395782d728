// PE32 header parsing, section layout and base relocation for the IA32 engine.
#include "sim/ia32/Pe32Loader.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace sim::ia32 {

namespace {

constexpr std::uint16_t kMachineI386 = 0x014C;
constexpr std::uint16_t kPe32Magic = 0x010B;
constexpr std::uint16_t kRelocsStripped = 0x0001;  // COFF characteristics: no base relocations
constexpr std::uint32_t kSectionExecutable = 0x20000000;
constexpr unsigned kBaseRelocationDirectory = 5;
// Base relocation kinds: ABSOLUTE pads a block; HIGHLOW adds the load delta to a 32-bit address.
constexpr unsigned kRelAbsolute = 0;
constexpr unsigned kRelHighLow = 3;
// The largest image the engine accepts: a PEIM is a few KiB; anything near this is not one.
constexpr std::uint32_t kMaxImageSize = 16u << 20;

std::string hex(std::uint64_t v) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "0x%llX", static_cast<unsigned long long>(v));
  return buf;
}

struct Reader {
  std::span<const std::uint8_t> bytes;
  const char* what;
  void need(std::uint64_t at, std::uint64_t n) const {
    if (at + n > bytes.size()) {
      throw ImageError(std::string("not a PE32 image: ") + what + " lies outside the " +
                       std::to_string(bytes.size()) + "-byte file");
    }
  }
  std::uint16_t u16(std::uint64_t at) const {
    need(at, 2);
    return static_cast<std::uint16_t>(bytes[at] | bytes[at + 1] << 8);
  }
  std::uint32_t u32(std::uint64_t at) const {
    return static_cast<std::uint32_t>(u16(at)) | static_cast<std::uint32_t>(u16(at + 2)) << 16;
  }
};

}  // namespace

Pe32Image::Pe32Image(std::span<const std::uint8_t> file) : file_(file.begin(), file.end()) {
  Reader r{file, "the DOS header"};
  r.need(0, 64);
  if (file[0] != 'M' || file[1] != 'Z') {
    throw ImageError("not a PE32 image: no MZ signature");
  }
  const std::uint64_t pe = r.u32(0x3C);
  r.what = "the PE header";
  r.need(pe, 24);
  if (std::memcmp(&file[pe], "PE\0\0", 4) != 0) {
    throw ImageError("not a PE32 image: no PE signature at " + hex(pe));
  }
  const std::uint16_t machine = r.u16(pe + 4);
  if (machine != kMachineI386) {
    throw ImageError("not an i386 image: machine " + hex(machine) + ", expected 0x14C");
  }
  const unsigned section_count = r.u16(pe + 6);
  const std::uint16_t optional_size = r.u16(pe + 20);
  const std::uint16_t characteristics = r.u16(pe + 22);
  const std::uint64_t opt = pe + 24;
  r.what = "the optional header";
  if (r.u16(opt) != kPe32Magic) {
    throw ImageError("not a PE32 image: optional header magic " + hex(r.u16(opt)) + ", expected 0x10B");
  }
  r.need(opt, 96);
  entry_rva_ = r.u32(opt + 16);
  image_base_ = r.u32(opt + 28);
  size_of_image_ = r.u32(opt + 56);
  size_of_headers_ = r.u32(opt + 60);
  const std::uint32_t directories = r.u32(opt + 92);
  if (directories > kBaseRelocationDirectory && optional_size >= 96 + 8 * (kBaseRelocationDirectory + 1)) {
    reloc_rva_ = r.u32(opt + 96 + 8 * kBaseRelocationDirectory);
    reloc_size_ = r.u32(opt + 100 + 8 * kBaseRelocationDirectory);
  }
  has_relocations_ = (characteristics & kRelocsStripped) == 0 && reloc_size_ != 0;
  if (size_of_image_ == 0 || size_of_image_ > kMaxImageSize) {
    throw ImageError("not a loadable image: SizeOfImage " + hex(size_of_image_));
  }
  if (size_of_headers_ > size_of_image_ || size_of_headers_ > file.size()) {
    throw ImageError("not a loadable image: SizeOfHeaders " + hex(size_of_headers_) + " exceeds the image");
  }
  if (entry_rva_ == 0 || entry_rva_ >= size_of_image_) {
    throw ImageError("not a loadable image: entry point " + hex(entry_rva_) + " outside the image");
  }

  r.what = "the section table";
  const std::uint64_t table = opt + optional_size;
  for (unsigned i = 0; i < section_count; i++) {
    const std::uint64_t s = table + 40 * std::uint64_t{i};
    r.need(s, 40);
    RawSection raw;
    raw.placed.size = r.u32(s + 8);
    raw.placed.rva = r.u32(s + 12);
    raw.file_size = r.u32(s + 16);
    raw.file_offset = r.u32(s + 20);
    raw.placed.executable = (r.u32(s + 36) & kSectionExecutable) != 0;
    char name[9] = {};
    std::memcpy(name, &file[s], 8);
    if (std::uint64_t{raw.placed.rva} + std::max(raw.placed.size, raw.file_size) > size_of_image_) {
      throw ImageError(std::string("not a loadable image: section ") + name + " lies outside SizeOfImage");
    }
    if (raw.file_size != 0 && std::uint64_t{raw.file_offset} + raw.file_size > file.size()) {
      throw ImageError(std::string("not a loadable image: section ") + name + " lies outside the file");
    }
    raw_.push_back(raw);
    sections_.push_back(raw.placed);
  }
  if (std::uint64_t{reloc_rva_} + reloc_size_ > size_of_image_) {
    throw ImageError("not a loadable image: base relocations lie outside the image");
  }
}

std::vector<std::uint8_t> Pe32Image::place_at(std::uint32_t base) const {
  if (base != image_base_ && !has_relocations_) {
    throw ImageError("the image has no base relocations, so it runs only at its preferred base " +
                     hex(image_base_) + ", not at " + hex(base));
  }
  std::vector<std::uint8_t> memory(size_of_image_, 0);
  std::memcpy(memory.data(), file_.data(), size_of_headers_);
  for (const RawSection& s : raw_) {
    // Bytes past the raw data (zero-initialised state) stay zero; raw data past the section's
    // size in memory is file alignment padding.
    std::uint32_t n = s.placed.size != 0 ? std::min(s.file_size, s.placed.size) : s.file_size;
    std::memcpy(memory.data() + s.placed.rva, file_.data() + s.file_offset, n);
  }
  if (base == image_base_ || !has_relocations_) {
    return memory;
  }
  const std::uint32_t delta = base - image_base_;
  Reader r{memory, "a base relocation block"};
  std::uint32_t at = reloc_rva_;
  const std::uint32_t end = reloc_rva_ + reloc_size_;
  while (at + 8 <= end) {
    const std::uint32_t page = r.u32(at);
    const std::uint32_t block = r.u32(at + 4);
    if (block < 8 || at + block > end) {
      throw ImageError("bad base relocation block at " + hex(at) + " (size " + hex(block) + ")");
    }
    for (std::uint32_t e = at + 8; e + 2 <= at + block; e += 2) {
      const std::uint16_t entry = r.u16(e);
      const unsigned kind = entry >> 12;
      const std::uint64_t target = std::uint64_t{page} + (entry & 0xFFF);
      if (kind == kRelAbsolute) {
        continue;
      }
      if (kind != kRelHighLow) {
        throw ImageError("base relocation of kind " + std::to_string(kind) + " at " + hex(target) +
                         ": a 32-bit image has only HIGHLOW relocations");
      }
      if (target + 4 > memory.size()) {
        throw ImageError("base relocation at " + hex(target) + " lies outside the image");
      }
      std::uint32_t v = r.u32(target) + delta;
      for (int k = 0; k < 4; k++) {
        memory[target + k] = static_cast<std::uint8_t>(v >> (8 * k));
      }
    }
    at += block;
  }
  return memory;
}

}  // namespace sim::ia32
