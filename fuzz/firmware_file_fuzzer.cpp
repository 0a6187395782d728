// Fuzzes the firmware-file reader (and the PE32 reader behind it): any input gives the PE32 image
// inside it, lying inside the input, or one clear error; never a crash or a read past the input.
#include <cstdint>
#include <cstdlib>

#include "fuzz/ReaderVerdict.h"
#include "tools/ffs/FirmwareFile.h"
#include "tools/ffs/Pe32Image.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzzing::expect_image_or_one_error([&] {
    const std::span<const std::uint8_t> pe32 = packaging::pe32_section({data, size});
    if (pe32.data() < data || pe32.data() + pe32.size() > data + size) std::abort();
    packaging::Pe32Image{pe32};
  });
  return 0;
}
