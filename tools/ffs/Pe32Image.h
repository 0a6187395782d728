// The one reader of i386 PE32 images: checks the headers, sections and base relocations of an
// image, lays it out at a chosen base for the IA32 engine, and checks it for the packer.
#ifndef TOOLS_FFS_PE32_IMAGE_H_
#define TOOLS_FFS_PE32_IMAGE_H_

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace packaging {

struct ImageSection {
  std::string name;
  std::uint32_t rva = 0;
  std::uint32_t size = 0;  // in memory
  std::uint32_t file_offset = 0;
  std::uint32_t file_size = 0;
  bool executable = false;
};

class Pe32Image {
 public:
  // The largest image accepted: a PEIM is a few KiB; anything near this is not one.
  static constexpr std::uint32_t kMaxImageSize = 16u << 20;

  // Throws FfsError naming the first thing that is wrong: too short, no MZ signature, a PE header
  // offset outside the file, no PE signature, a machine other than i386 (0x14C), an optional
  // header that is not PE32 (magic 0x10B), headers cut short, SizeOfImage, SizeOfHeaders or the
  // entry point inconsistent, sections whose data lies beyond the file or beyond SizeOfImage, or
  // base relocations that are not whole blocks of 32-bit addresses inside the image.
  explicit Pe32Image(std::span<const std::uint8_t> file);

  std::uint32_t preferred_base() const { return image_base_; }
  std::uint32_t size_of_image() const { return size_of_image_; }
  std::uint32_t entry_rva() const { return entry_rva_; }
  std::uint16_t subsystem() const { return subsystem_; }
  bool relocatable() const { return has_relocations_; }
  const std::vector<ImageSection>& sections() const { return sections_; }

  // The image as it lies in memory at `base` (size_of_image() bytes, relocated). Throws FfsError
  // when the image lacks relocations and `base` is not its preferred base.
  std::vector<std::uint8_t> place_at(std::uint32_t base) const;

 private:
  void read_relocations(std::span<const std::uint8_t> file, std::uint64_t rva, std::uint64_t size);

  std::vector<std::uint8_t> file_;
  std::uint32_t image_base_ = 0;
  std::uint32_t size_of_image_ = 0;
  std::uint32_t size_of_headers_ = 0;
  std::uint32_t entry_rva_ = 0;
  std::uint16_t subsystem_ = 0;
  bool has_relocations_ = false;
  std::vector<ImageSection> sections_;
  std::vector<std::uint32_t> relocations_;  // RVAs of the 32-bit addresses to adjust
};

// The packer's check: a Pe32Image (throws as its constructor does) whose subsystem is EFI boot
// service driver (11), as the PEI core dispatches a PEIM.
void check_pe32_image(std::span<const std::uint8_t> image);

}  // namespace packaging

#endif  // TOOLS_FFS_PE32_IMAGE_H_
