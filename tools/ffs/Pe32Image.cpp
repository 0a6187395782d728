// PE32 header, section and base-relocation checks, and the layout of the image at a base.
#include "tools/ffs/Pe32Image.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "tools/ffs/FfsError.h"

namespace packaging {
namespace {

constexpr size_t kDosHeaderSize = 64;
constexpr size_t kNewHeaderOffsetField = 0x3C;  // e_lfanew: file offset of the PE signature
constexpr size_t kCoffHeaderSize = 20;
constexpr uint16_t kMachineI386 = 0x014C;
constexpr uint16_t kPe32Magic = 0x010B;
constexpr uint16_t kRelocationsStripped = 0x0001;     // COFF characteristics: no base relocations
constexpr uint16_t kSubsystemBootServiceDriver = 11;  // what the PEI core dispatches as a PEIM
constexpr uint32_t kSectionExecutable = 0x20000000;

// COFF header fields, from the PE signature.
constexpr size_t kMachineAt = 4;
constexpr size_t kSectionCountAt = 4 + 2;
constexpr size_t kOptionalHeaderSizeAt = 4 + 16;
constexpr size_t kCharacteristicsAt = 4 + 18;
// PE32 optional-header fields, from its start.
constexpr size_t kEntryPointAt = 16;
constexpr size_t kImageBaseAt = 28;
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
constexpr size_t kCharacteristicsOfSectionAt = 36;
// Base relocation block: page RVA, block size, then 16-bit entries (type in the top 4 bits).
constexpr size_t kRelocationBlockHeader = 8;
constexpr unsigned kRelocationAbsolute = 0;  // padding
constexpr unsigned kRelocationHighLow = 3;   // the 32-bit address at page + offset

uint16_t load16(std::span<const uint8_t> bytes, uint64_t at) {
  return static_cast<uint16_t>(bytes[at] | bytes[at + 1] << 8);
}

uint32_t load32(std::span<const uint8_t> bytes, uint64_t at) {
  return static_cast<uint32_t>(load16(bytes, at)) | static_cast<uint32_t>(load16(bytes, at + 2)) << 16;
}

std::string hex(uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
  return text;
}

// A section name as an error message shows it: up to 8 bytes, NUL-terminated when shorter, with
// anything but printable ASCII as \xNN, so that a hostile name cannot break the message's line.
std::string printable_name(const uint8_t* name) {
  std::string text;
  for (int i = 0; i < 8 && name[i] != 0; i++) {
    if (name[i] >= 0x20 && name[i] < 0x7F && name[i] != '\\') {
      text += static_cast<char>(name[i]);
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", name[i]);
      text += escaped;
    }
  }
  return text;
}

}  // namespace

Pe32Image::Pe32Image(std::span<const uint8_t> image) : file_(image.begin(), image.end()) {
  if (image.size() < kDosHeaderSize) {
    throw FfsError("not a PE32 image: " + std::to_string(image.size()) +
                   " bytes is too short for a DOS header");
  }
  if (image[0] != 'M' || image[1] != 'Z') {
    throw FfsError("not a PE32 image: no MZ signature");
  }
  // The PE signature, the COFF header and the optional header's 2-byte magic must all lie inside.
  const uint64_t pe_offset = load32(image, kNewHeaderOffsetField);
  const uint64_t optional = pe_offset + 4 + kCoffHeaderSize;
  if (optional + 2 > image.size()) {
    throw FfsError("not a PE32 image: PE header offset " + hex(pe_offset) + " lies outside the " +
                   std::to_string(image.size()) + "-byte file");
  }
  if (std::memcmp(&image[pe_offset], "PE\0\0", 4) != 0) {
    throw FfsError("not a PE32 image: no PE signature at " + hex(pe_offset));
  }
  const uint16_t machine = load16(image, pe_offset + kMachineAt);
  if (machine != kMachineI386) {
    throw FfsError("not a PE32 image for i386: machine is " + hex(machine) + ", expected 0x14C");
  }
  const uint16_t optional_header_size = load16(image, pe_offset + kOptionalHeaderSizeAt);
  if (optional_header_size < 2) {
    throw FfsError("not a PE32 image: no optional header");
  }
  const uint16_t magic = load16(image, optional);
  if (magic != kPe32Magic) {
    throw FfsError("not a PE32 image: optional header magic is " + hex(magic) + ", expected 0x10B");
  }

  // Everything the loader reads must lie inside the file and agree with SizeOfImage.
  const unsigned section_count = load16(image, pe_offset + kSectionCountAt);
  const uint64_t table = optional + optional_header_size;
  const uint64_t headers_end = table + section_count * kSectionHeaderSize;
  if (optional_header_size < kDirectoriesAt || headers_end > image.size()) {
    throw FfsError("truncated PE32 image: its headers (" + std::to_string(section_count) +
                   " sections) run past the end of the " + std::to_string(image.size()) + "-byte file");
  }
  entry_rva_ = load32(image, optional + kEntryPointAt);
  image_base_ = load32(image, optional + kImageBaseAt);
  size_of_image_ = load32(image, optional + kSizeOfImageAt);
  size_of_headers_ = load32(image, optional + kSizeOfHeadersAt);
  subsystem_ = load16(image, optional + kSubsystemAt);
  if (size_of_image_ > kMaxImageSize) {
    throw FfsError("PE32 image too large to load: SizeOfImage " + hex(size_of_image_) + " exceeds " +
                   hex(kMaxImageSize));
  }
  if (size_of_headers_ < headers_end || size_of_headers_ > size_of_image_ ||
      size_of_headers_ > image.size() || entry_rva_ == 0 || entry_rva_ >= size_of_image_) {
    throw FfsError("inconsistent PE32 image: SizeOfImage " + hex(size_of_image_) +
                   " does not hold its headers and entry point");
  }
  for (unsigned i = 0; i < section_count; ++i) {
    const uint64_t at = table + i * kSectionHeaderSize;
    ImageSection s;
    s.name = printable_name(&image[at]);
    s.size = load32(image, at + kVirtualSizeAt);
    s.rva = load32(image, at + kVirtualAddressAt);
    s.file_size = load32(image, at + kRawSizeAt);
    s.file_offset = load32(image, at + kRawPointerAt);
    s.executable = (load32(image, at + kCharacteristicsOfSectionAt) & kSectionExecutable) != 0;
    if (s.file_size != 0 && uint64_t{s.file_offset} + s.file_size > image.size()) {
      throw FfsError("inconsistent PE32 image: section " + s.name + " has SizeOfRawData " + hex(s.file_size) +
                     " at " + hex(s.file_offset) + ", beyond the end of the " + std::to_string(image.size()) +
                     "-byte file");
    }
    const uint64_t loaded = s.size != 0 ? s.size : s.file_size;
    if (uint64_t{s.rva} + loaded > size_of_image_) {
      throw FfsError("inconsistent PE32 image: section " + s.name + " ends at " + hex(s.rva + loaded) +
                     ", past SizeOfImage " + hex(size_of_image_));
    }
    sections_.push_back(s);
  }

  const uint64_t directories = load32(image, optional + kDirectoryCountAt);
  const uint64_t relocation_entry = optional + kDirectoriesAt + kBaseRelocationDirectory * 8;
  if (directories > kBaseRelocationDirectory && relocation_entry + 8 <= table) {
    const uint64_t rva = load32(image, relocation_entry), size = load32(image, relocation_entry + 4);
    if (size != 0) {
      read_relocations(image, rva, size);
      has_relocations_ = (load16(image, pe_offset + kCharacteristicsAt) & kRelocationsStripped) == 0;
    }
  }
}

// The base relocations must be whole blocks of HIGHLOW entries inside the image: the PEI core
// applies them blindly when it loads the module at its own address.
void Pe32Image::read_relocations(std::span<const uint8_t> image, uint64_t rva, uint64_t size) {
  const ImageSection* holder = nullptr;
  for (const auto& s : sections_) {
    if (rva >= s.rva && rva + size <= uint64_t{s.rva} + s.file_size) {
      holder = &s;
    }
  }
  if (holder == nullptr) {
    throw FfsError("inconsistent PE32 image: the base relocations (" + hex(size) + " bytes at RVA " +
                   hex(rva) + ") lie outside every section's data");
  }
  const uint64_t start = holder->file_offset + (rva - holder->rva);
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
      const uint64_t target = page + (entry & 0xFFF);
      if (type != kRelocationHighLow || target + 4 > size_of_image_) {
        throw FfsError("corrupt relocation block at file offset " + hex(at) + ": entry " + hex(entry) +
                       " is not a 32-bit address inside the image");
      }
      relocations_.push_back(static_cast<uint32_t>(target));
    }
    at += block;
  }
}

std::vector<uint8_t> Pe32Image::place_at(uint32_t base) const {
  if (base != image_base_ && !has_relocations_) {
    throw FfsError("the image has no base relocations, so it runs only at its preferred base " +
                   hex(image_base_) + ", not at " + hex(base));
  }
  std::vector<uint8_t> memory(size_of_image_, 0);
  std::memcpy(memory.data(), file_.data(), size_of_headers_);
  for (const ImageSection& s : sections_) {
    // Bytes past the raw data (zero-initialised state) stay zero; raw data past the section's
    // size in memory is file alignment padding.
    const uint32_t n = s.size != 0 ? std::min(s.file_size, s.size) : s.file_size;
    std::memcpy(memory.data() + s.rva, file_.data() + s.file_offset, n);
  }
  const uint32_t delta = base - image_base_;
  if (delta != 0) {
    for (uint32_t target : relocations_) {
      const uint32_t v = load32(memory, target) + delta;
      for (int k = 0; k < 4; k++) {
        memory[target + k] = static_cast<uint8_t>(v >> (8 * k));
      }
    }
  }
  return memory;
}

void check_pe32_image(std::span<const uint8_t> image) {
  const Pe32Image pe32(image);
  if (pe32.subsystem() != kSubsystemBootServiceDriver) {
    throw FfsError("not a PEIM image: subsystem is " + std::to_string(pe32.subsystem()) +
                   ", expected 11 (EFI boot service driver)");
  }
}

}  // namespace packaging
