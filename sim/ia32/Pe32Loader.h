// Loads an i386 PE32 image for the IA32 engine: checks the headers, lays the sections out at a
// chosen base and applies every base relocation.
#pragma once

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace sim::ia32 {

// A one-line reason why an image cannot be run.
struct ImageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct ImageSection {
  std::uint32_t rva = 0;
  std::uint32_t size = 0;  // in memory
  bool executable = false;
};

class Pe32Image {
 public:
  // Throws ImageError for anything but an i386 PE32 image with consistent headers and sections.
  explicit Pe32Image(std::span<const std::uint8_t> file);

  std::uint32_t preferred_base() const { return image_base_; }
  std::uint32_t size_of_image() const { return size_of_image_; }
  std::uint32_t entry_rva() const { return entry_rva_; }
  bool relocatable() const { return has_relocations_; }
  const std::vector<ImageSection>& sections() const { return sections_; }

  // The image as it lies in memory at `base` (size_of_image() bytes, relocated). Throws ImageError
  // when the image lacks relocations and `base` is not its preferred base, or when a relocation
  // is of a kind a 32-bit image cannot have or points outside the image.
  std::vector<std::uint8_t> place_at(std::uint32_t base) const;

 private:
  std::vector<std::uint8_t> file_;
  std::uint32_t image_base_ = 0;
  std::uint32_t size_of_image_ = 0;
  std::uint32_t size_of_headers_ = 0;
  std::uint32_t entry_rva_ = 0;
  std::uint32_t reloc_rva_ = 0;
  std::uint32_t reloc_size_ = 0;
  bool has_relocations_ = false;
  struct RawSection {
    ImageSection placed;
    std::uint32_t file_offset = 0;
    std::uint32_t file_size = 0;
  };
  std::vector<RawSection> raw_;
  std::vector<ImageSection> sections_;
};

}  // namespace sim::ia32
