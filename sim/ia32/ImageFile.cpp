// Reads the image file and hands its bytes to the firmware-file reader when it is not a bare PE32
// image (no MZ signature).
#include "sim/ia32/ImageFile.h"

#include <fstream>
#include <iterator>

#include "sim/ia32/Pe32Loader.h"
#include "tools/ffs/FirmwareFile.h"

namespace sim::ia32 {

ImageFile read_image_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    throw ImageError("cannot read image '" + path + "'");
  }
  ImageFile image;
  image.path = path;
  image.bytes.assign(std::istreambuf_iterator<char>(in), {});
  if (image.bytes.size() >= 2 && image.bytes[0] == 'M' && image.bytes[1] == 'Z') {
    image.pe32 = image.bytes;
  } else {
    try {
      const std::span<const std::uint8_t> pe32 = packaging::pe32_section(image.bytes);
      image.pe32.assign(pe32.begin(), pe32.end());
    } catch (const ImageError& e) {
      throw ImageError("'" + path + "': " + e.what());
    }
    image.firmware_file = true;
  }
  return image;
}

}  // namespace sim::ia32
