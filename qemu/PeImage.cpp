// PE32 loader: header checks, section copy and HIGHLOW base relocations, all bounds-checked.
#include "qemu/PeImage.h"

#include "qemu/Console.h"

namespace harness {

namespace {

constexpr uint16_t kDosMagic = 0x5A4D;  // "MZ"
constexpr uint32_t kDosNewHeaderOffset = 0x3C;
constexpr uint32_t kPeSignature = 0x00004550;  // "PE\0\0"
constexpr uint16_t kMachineI386 = 0x014C;
constexpr uint16_t kPe32Magic = 0x010B;
constexpr uint32_t kFileHeaderSize = 20;
constexpr uint32_t kSectionHeaderSize = 40;
constexpr uint32_t kBaseRelocationDirectory = 5;
constexpr uint16_t kRelocationAbsolute = 0;  // padding entry
constexpr uint16_t kRelocationHighLow = 3;   // add the delta to a 32-bit field

// Offsets in the PE32 optional header.
constexpr uint32_t kOptMagic = 0;
constexpr uint32_t kOptEntryPoint = 16;
constexpr uint32_t kOptImageBase = 28;
constexpr uint32_t kOptSizeOfImage = 56;
constexpr uint32_t kOptSizeOfHeaders = 60;
constexpr uint32_t kOptSubsystem = 68;
constexpr uint32_t kOptDirectoryCount = 92;
constexpr uint32_t kOptDirectories = 96;

uint16_t get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t get32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

// TRUE when [offset, offset + length) lies inside [0, limit).
bool inside(uint32_t offset, uint32_t length, uint32_t limit) {
  return offset <= limit && length <= limit - offset;
}

void copy(uint8_t* to, const uint8_t* from, uint32_t length) {
  for (uint32_t i = 0; i < length; i++) {
    to[i] = from[i];
  }
}

uint32_t apply_relocations(uint8_t* image, uint32_t size, uint32_t directory, uint32_t directory_size,
                           uint32_t delta) {
  if (!inside(directory, directory_size, size)) {
    fail("image: relocation directory 0x%x+0x%x outside the image", directory, directory_size);
  }
  uint32_t applied = 0;
  uint32_t offset = directory;
  uint32_t end = directory + directory_size;
  while (offset < end) {
    if (end - offset < 8) {
      fail("image: truncated relocation block at 0x%x", offset);
    }
    uint32_t page = get32(image + offset);
    uint32_t block_size = get32(image + offset + 4);
    if (block_size < 8 || (block_size & 1) != 0 || block_size > end - offset) {
      fail("image: bad relocation block size 0x%x at 0x%x", block_size, offset);
    }
    for (uint32_t entry = offset + 8; entry < offset + block_size; entry += 2) {
      uint16_t value = get16(image + entry);
      uint16_t type = static_cast<uint16_t>(value >> 12);
      uint32_t target = page + (value & 0xFFFu);
      if (type == kRelocationAbsolute) {
        continue;
      }
      if (type != kRelocationHighLow) {
        fail("image: relocation type %u at rva 0x%x is not valid in a PE32 image", type, target);
      }
      if (!inside(target, 4, size)) {
        fail("image: relocation at rva 0x%x outside the image", target);
      }
      uint32_t fixed = get32(image + target) + delta;
      image[target] = static_cast<uint8_t>(fixed);
      image[target + 1] = static_cast<uint8_t>(fixed >> 8);
      image[target + 2] = static_cast<uint8_t>(fixed >> 16);
      image[target + 3] = static_cast<uint8_t>(fixed >> 24);
      applied++;
    }
    offset += block_size;
  }
  return applied;
}

}  // namespace

LoadedImage load_pe32(const uint8_t* file, uint32_t file_size, uint32_t load_address, uint32_t capacity) {
  if (file_size < kDosNewHeaderOffset + 4 || get16(file) != kDosMagic) {
    fail("image: not an MZ file (%u bytes)", file_size);
  }
  uint32_t pe = get32(file + kDosNewHeaderOffset);
  if (!inside(pe, 4 + kFileHeaderSize, file_size) || get32(file + pe) != kPeSignature) {
    fail("image: no PE signature");
  }
  const uint8_t* header = file + pe + 4;
  uint16_t machine = get16(header);
  uint16_t section_count = get16(header + 2);
  uint16_t optional_size = get16(header + 16);
  const uint8_t* optional = header + kFileHeaderSize;
  uint32_t optional_offset = pe + 4 + kFileHeaderSize;
  if (machine != kMachineI386) {
    fail("image: machine 0x%04x, not i386", machine);
  }
  if (optional_size < kOptDirectories || !inside(optional_offset, optional_size, file_size) ||
      get16(optional + kOptMagic) != kPe32Magic) {
    fail("image: no PE32 optional header");
  }
  uint32_t directory_count = get32(optional + kOptDirectoryCount);
  if (directory_count > (optional_size - kOptDirectories) / 8) {
    fail("image: %u data directories do not fit the optional header", directory_count);
  }

  LoadedImage loaded;
  loaded.base = load_address;
  loaded.size = get32(optional + kOptSizeOfImage);
  loaded.subsystem = get16(optional + kOptSubsystem);
  uint32_t preferred_base = get32(optional + kOptImageBase);
  uint32_t headers_size = get32(optional + kOptSizeOfHeaders);
  uint32_t entry_rva = get32(optional + kOptEntryPoint);
  uint32_t sections_offset = optional_offset + optional_size;
  if (loaded.size > capacity || headers_size > loaded.size || headers_size > file_size) {
    fail("image: %u bytes (headers %u) do not fit the %u-byte load area", loaded.size, headers_size,
         capacity);
  }
  if (!inside(sections_offset, section_count * kSectionHeaderSize, headers_size)) {
    fail("image: section table outside the headers");
  }
  if (entry_rva >= loaded.size) {
    fail("image: entry point rva 0x%x outside the image", entry_rva);
  }

  uint8_t* image = reinterpret_cast<uint8_t*>(load_address);
  for (uint32_t i = 0; i < loaded.size; i++) {
    image[i] = 0;
  }
  copy(image, file, headers_size);
  for (uint32_t s = 0; s < section_count; s++) {
    const uint8_t* section = file + sections_offset + s * kSectionHeaderSize;
    uint32_t virtual_size = get32(section + 8);
    uint32_t rva = get32(section + 12);
    uint32_t raw_size = get32(section + 16);
    uint32_t raw_offset = get32(section + 20);
    // Raw data beyond the virtual size is file alignment padding, not part of the section.
    uint32_t copied = raw_size < virtual_size || virtual_size == 0 ? raw_size : virtual_size;
    uint32_t span = virtual_size > raw_size ? virtual_size : raw_size;
    if (!inside(rva, span, loaded.size) || !inside(raw_offset, copied, file_size)) {
      fail("image: section %u (rva 0x%x, 0x%x bytes) outside the image or the file", s, rva, span);
    }
    copy(image + rva, file + raw_offset, copied);
  }

  uint32_t delta = load_address - preferred_base;
  if (directory_count > kBaseRelocationDirectory) {
    const uint8_t* entry = optional + kOptDirectories + kBaseRelocationDirectory * 8;
    uint32_t directory = get32(entry);
    uint32_t directory_size = get32(entry + 4);
    if (directory_size != 0) {
      loaded.relocations = apply_relocations(image, loaded.size, directory, directory_size, delta);
    }
  }
  if (delta != 0 && loaded.relocations == 0) {
    fail("image: preferred base 0x%08x needs relocation but the image has no fix-ups", preferred_base);
  }
  loaded.entry = load_address + entry_rva;
  log_line(
      "image: %u bytes, %u sections, subsystem %u, preferred base 0x%08x, loaded at 0x%08x, "
      "%u relocations, entry rva 0x%x",
      file_size, section_count, loaded.subsystem, preferred_base, load_address, loaded.relocations,
      entry_rva);
  return loaded;
}

}  // namespace harness
