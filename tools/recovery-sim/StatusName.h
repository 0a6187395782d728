// EFI status codes as a firmware engineer reads them: the name with the number.
#pragma once

#include <cstdint>
#include <string>

namespace rsim {

// "EFI_BAD_BUFFER_SIZE (0x80000004)"; a code without a standard name is given as its number.
std::string efi_status_text(std::uint32_t status);

}  // namespace rsim
