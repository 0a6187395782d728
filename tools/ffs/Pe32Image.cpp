// PE32 header checks: DOS header, PE signature, COFF machine and optional-header magic.
#include "tools/ffs/Pe32Image.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "tools/ffs/FfsError.h"

namespace packaging {
namespace {

constexpr size_t kDosHeaderSize = 64;
constexpr size_t kNewHeaderOffsetField = 0x3C;  // e_lfanew: file offset of the PE signature
constexpr size_t kCoffHeaderSize = 20;
constexpr uint16_t kMachineI386 = 0x014C;
constexpr uint16_t kPe32Magic = 0x010B;
constexpr uint16_t kSubsystemBootServiceDriver = 11;  // what the PEI core dispatches as a PEIM

// COFF header fields, from the PE signature.
constexpr size_t kSectionCountAt = 4 + 2;
constexpr size_t kOptionalHeaderSizeAt = 4 + 16;
// PE32 optional-header fields, from its start.
constexpr size_t kEntryPointAt = 16;
constexpr size_t kSizeOfImageAt = 56;
constexpr size_t kSizeOfHeadersAt = 60;
constexpr size_t kSubsystemAt = 68;
constexpr size_t kDirectoryCountAt = 92;
constexpr size_t kDirectoriesAt = 96;
constexpr size_t kBaseRelocationDirectory = 5;
// Section header: 40 bytes, name first.
constexpr size_t kSectionHeaderSize = 40;
constexpr size_t kVirtualSizeAt = 8;
constexpr size_t kVirtualAddressAt = 12;
constexpr size_t kRawSizeAt = 16;
constexpr size_t kRawPointerAt = 20;
// Base relocation block: page RVA, block size, then 16-bit entries (type in the top 4 bits).
constexpr size_t kRelocationBlockHeader = 8;
constexpr unsigned kRelocationAbsolute = 0;  // padding
constexpr unsigned kRelocationHighLow = 3;   // the 32-bit address at page + offset

uint16_t load16(std::span<const uint8_t> bytes, size_t at) {
  return static_cast<uint16_t>(bytes[at] | bytes[at + 1] << 8);
}

uint32_t load32(std::span<const uint8_t> bytes, size_t at) {
  return static_cast<uint32_t>(load16(bytes, at)) | static_cast<uint32_t>(load16(bytes, at + 2)) << 16;
}

std::string hex(uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
  return text;
}

struct Section {
  std::string name;
  uint64_t virtual_address, virtual_size, raw_pointer, raw_size;
};

std::vector<Section> sections_of(std::span<const uint8_t> image, uint64_t table, unsigned count,
                                 uint64_t size_of_image) {
  std::vector<Section> sections;
  for (unsigned i = 0; i < count; ++i) {
    const uint64_t at = table + i * kSectionHeaderSize;
    Section s;
    const char* name = reinterpret_cast<const char*>(&image[at]);
    s.name.assign(name, std::find(name, name + 8, '\0'));
    s.virtual_size = load32(image, at + kVirtualSizeAt);
    s.virtual_address = load32(image, at + kVirtualAddressAt);
    s.raw_size = load32(image, at + kRawSizeAt);
    s.raw_pointer = load32(image, at + kRawPointerAt);
    if (s.raw_size != 0 && s.raw_pointer + s.raw_size > image.size()) {
      throw FfsError("inconsistent PE32 image: section " + s.name + " has SizeOfRawData " + hex(s.raw_size) +
                     " at " + hex(s.raw_pointer) + ", beyond the end of the " + std::to_string(image.size()) +
                     "-byte file");
    }
    const uint64_t loaded = s.virtual_size != 0 ? s.virtual_size : s.raw_size;
    if (s.virtual_address + loaded > size_of_image) {
      throw FfsError("inconsistent PE32 image: section " + s.name + " ends at " +
                     hex(s.virtual_address + loaded) + ", past SizeOfImage " + hex(size_of_image));
    }
    sections.push_back(s);
  }
  return sections;
}

// The base relocations must be whole blocks of HIGHLOW entries inside the image: the PEI core
// applies them blindly when it loads the module at its own address.
void check_relocations(std::span<const uint8_t> image, const std::vector<Section>& sections, uint64_t rva,
                       uint64_t size, uint64_t size_of_image) {
  const Section* holder = nullptr;
  for (const auto& s : sections) {
    if (rva >= s.virtual_address && rva + size <= s.virtual_address + s.raw_size) {
      holder = &s;
    }
  }
  if (holder == nullptr) {
    throw FfsError("inconsistent PE32 image: the base relocations (" + hex(size) + " bytes at RVA " +
                   hex(rva) + ") lie outside every section's data");
  }
  const uint64_t start = holder->raw_pointer + (rva - holder->virtual_address);
  for (uint64_t at = start; at < start + size;) {
    if (at + kRelocationBlockHeader > start + size) {
      throw FfsError("corrupt relocation block at file offset " + hex(at) + ": its header is cut short");
    }
    const uint64_t page = load32(image, at);
    const uint64_t block = load32(image, at + 4);
    if (block < kRelocationBlockHeader || block % 2 != 0 || at + block > start + size) {
      throw FfsError("corrupt relocation block at file offset " + hex(at) + ": size " + hex(block) +
                     " does not fit the " + hex(size) + "-byte relocation directory");
    }
    for (uint64_t e = at + kRelocationBlockHeader; e < at + block; e += 2) {
      const unsigned entry = load16(image, e);
      const unsigned type = entry >> 12;
      if (type == kRelocationAbsolute) {
        continue;
      }
      if (type != kRelocationHighLow || page + (entry & 0xFFF) + 4 > size_of_image) {
        throw FfsError("corrupt relocation block at file offset " + hex(at) + ": entry " + hex(entry) +
                       " is not a 32-bit address inside the image");
      }
    }
    at += block;
  }
}

}  // namespace

void check_pe32_image(std::span<const uint8_t> image) {
  if (image.size() < kDosHeaderSize) {
    throw FfsError("not a PE32 image: " + std::to_string(image.size()) +
                   " bytes is too short for a DOS header");
  }
  if (image[0] != 'M' || image[1] != 'Z') {
    throw FfsError("not a PE32 image: no MZ signature");
  }
  // The PE signature, the COFF header and the optional header's 2-byte magic must all lie inside.
  const uint64_t pe_offset = load32(image, kNewHeaderOffsetField);
  const uint64_t magic_offset = pe_offset + 4 + kCoffHeaderSize;
  if (magic_offset + 2 > image.size()) {
    throw FfsError("not a PE32 image: PE header offset " + hex(static_cast<uint32_t>(pe_offset)) +
                   " lies outside the " + std::to_string(image.size()) + "-byte file");
  }
  if (image[pe_offset] != 'P' || image[pe_offset + 1] != 'E' || image[pe_offset + 2] != 0 ||
      image[pe_offset + 3] != 0) {
    throw FfsError("not a PE32 image: no PE signature at " + hex(static_cast<uint32_t>(pe_offset)));
  }
  const uint16_t machine = load16(image, pe_offset + 4);
  if (machine != kMachineI386) {
    throw FfsError("not a PE32 image for i386: machine is " + hex(machine) + ", expected 0x14C");
  }
  const uint16_t optional_header_size = load16(image, pe_offset + kOptionalHeaderSizeAt);
  if (optional_header_size < 2) {
    throw FfsError("not a PE32 image: no optional header");
  }
  const uint16_t magic = load16(image, magic_offset);
  if (magic != kPe32Magic) {
    throw FfsError("not a PE32 image: optional header magic is " + hex(magic) + ", expected 0x10B");
  }

  // Everything the loader reads must lie inside the file and agree with SizeOfImage.
  const uint64_t optional = magic_offset;
  const unsigned section_count = load16(image, pe_offset + kSectionCountAt);
  const uint64_t table = optional + optional_header_size;
  if (optional_header_size < kDirectoriesAt || table + section_count * kSectionHeaderSize > image.size()) {
    throw FfsError("truncated PE32 image: its headers (" + std::to_string(section_count) +
                   " sections) run past the end of the " + std::to_string(image.size()) + "-byte file");
  }
  const uint16_t subsystem = load16(image, optional + kSubsystemAt);
  if (subsystem != kSubsystemBootServiceDriver) {
    throw FfsError("not a PEIM image: subsystem is " + std::to_string(subsystem) +
                   ", expected 11 (EFI boot service driver)");
  }
  const uint64_t size_of_image = load32(image, optional + kSizeOfImageAt);
  const uint64_t size_of_headers = load32(image, optional + kSizeOfHeadersAt);
  if (size_of_headers < table + section_count * kSectionHeaderSize || size_of_headers > size_of_image ||
      load32(image, optional + kEntryPointAt) >= size_of_image) {
    throw FfsError("inconsistent PE32 image: SizeOfImage " + hex(size_of_image) +
                   " does not hold its headers and entry point");
  }
  const std::vector<Section> sections = sections_of(image, table, section_count, size_of_image);

  const uint64_t directories = load32(image, optional + kDirectoryCountAt);
  const uint64_t relocation_entry = optional + kDirectoriesAt + kBaseRelocationDirectory * 8;
  if (directories > kBaseRelocationDirectory && relocation_entry + 8 <= table) {
    const uint64_t rva = load32(image, relocation_entry), size = load32(image, relocation_entry + 4);
    if (size != 0) {
      check_relocations(image, sections, rva, size, size_of_image);
    }
  }
}

}  // namespace packaging
