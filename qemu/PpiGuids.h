// The GUIDs the test harnesses (the QEMU test kernel and the PEI-core harness PEIM) offer to the
// module, declared from the PI values rather than taken from the module's headers.
#pragma once

#include <stdint.h>

namespace harness {

struct Guid {
  uint32_t data1;
  uint16_t data2;
  uint16_t data3;
  uint8_t data4[8];
};
static_assert(sizeof(Guid) == 16, "EFI_GUID is 16 bytes");

constexpr Guid kSpeakerPpiGuid = {
    0x30AC275E, 0xBB30, 0x4B84, {0xA1, 0xCD, 0x0A, 0xF1, 0x32, 0x2C, 0x89, 0xC0}
};
constexpr Guid kRecoveryModulePpiGuid = {
    0x0DE2CE25, 0x446A, 0x45A7, {0xBF, 0xC9, 0x37, 0xDA, 0x26, 0x34, 0x4B, 0x37}
};
// The type the harnesses report for their capsule; the module does not look at it.
constexpr Guid kCapsuleTypeGuid = {
    0x5E0C8C11, 0x0F4A, 0x4D53, {0x9B, 0x6E, 0x51, 0x45, 0x4D, 0x55, 0x20, 0x01}
};

}  // namespace harness
