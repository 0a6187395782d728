// The PI interfaces the test harness PEIM uses, declared from their IA32 layouts (32-bit pointers
// and UINTN, cdecl) rather than taken from the module's headers, so that a layout slip in either
// shows up as a failed run.
#pragma once

#include <stdint.h>

#include "qemu/PpiGuids.h"

namespace harness {

typedef uint32_t Status;  // EFI_STATUS as the IA32 ABI passes it
constexpr Status kSuccess = 0;
constexpr Status kDeviceError = 0x80000007;

// CONST EFI_PEI_SERVICES **: the address of the pointer to the services table.
typedef const uint32_t* const* Services;

// Word index of a service in the IA32 table: a 24-byte header, then one 4-byte slot each.
enum class Service : uint32_t {
  InstallPpi = 0x18 / 4,
  NotifyPpi = 0x24 / 4,
  GetHobList = 0x30 / 4,
  AllocatePages = 0x48 / 4,
  AllocatePool = 0x4C / 4,
};

// EFI_PEI_PPI_DESCRIPTOR and EFI_PEI_NOTIFY_DESCRIPTOR: Flags, Guid, then the PPI or the callback.
struct PpiDescriptor {
  uint32_t flags;
  const Guid* guid;
  const void* ppi;
};
struct NotifyDescriptor {
  uint32_t flags;
  const Guid* guid;
  Status (*notify)(Services services, NotifyDescriptor* descriptor, void* ppi);
};
static_assert(sizeof(PpiDescriptor) == 12 && sizeof(NotifyDescriptor) == 12, "IA32 descriptors");
constexpr uint32_t kDescriptorPpi = 0x10;
constexpr uint32_t kDescriptorNotifyCallback = 0x20;
constexpr uint32_t kDescriptorTerminateList = 0x80000000;

// The first hand-off block (type 1) describes the permanent memory the PEI core manages once it is
// installed: offsets of its 64-bit fields after the 8-byte generic header and Version, BootMode.
constexpr uint16_t kHobHandoff = 0x0001;
constexpr uint32_t kHandoffMemoryTopAt = 16;
constexpr uint32_t kHandoffMemoryBottomAt = 24;

// Device recovery module PPI: GetNumberRecoveryCapsules, GetRecoveryCapsuleInfo, LoadRecoveryCapsule.
struct RecoveryPpi {
  Status (*get_number)(Services services, RecoveryPpi* self, uint32_t* number);
  Status (*get_info)(Services services, RecoveryPpi* self, uint32_t instance, uint32_t* size, Guid* type);
  Status (*load)(Services services, RecoveryPpi* self, uint32_t instance, void* buffer);
};

// The speaker PPI: SetFrequency, then Beep(count, duration in us, interval in us).
struct SpeakerPpi {
  Status (*set_frequency)(Services services, uint16_t frequency);
  Status (*beep)(Services services, uint32_t count, uint32_t duration, uint32_t interval);
};

}  // namespace harness
