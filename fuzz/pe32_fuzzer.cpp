// Fuzzes the PE32 reader: any input is an image laid out at its own base and at the engine's, or
// one clear error (one non-empty line); never a crash or a read past the input.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz/ReaderVerdict.h"
#include "tools/ffs/Pe32Image.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzzing::expect_image_or_one_error([&] {
    const packaging::Pe32Image image({data, size});
    if (image.place_at(image.preferred_base()).size() != image.size_of_image()) std::abort();
    if (image.relocatable()) image.place_at(0x00100000);
    packaging::check_pe32_image({data, size});
  });
  return 0;
}
