// Names of the standard EFI status codes: errors are the high bit plus a small number.
#include "tools/recovery-sim/StatusName.h"

#include "tools/recovery-sim/Report.h"

namespace rsim {

namespace {

constexpr const char* kErrorNames[] = {
    nullptr,
    "EFI_LOAD_ERROR",
    "EFI_INVALID_PARAMETER",
    "EFI_UNSUPPORTED",
    "EFI_BAD_BUFFER_SIZE",
    "EFI_BUFFER_TOO_SMALL",
    "EFI_NOT_READY",
    "EFI_DEVICE_ERROR",
    "EFI_WRITE_PROTECTED",
    "EFI_OUT_OF_RESOURCES",
    "EFI_VOLUME_CORRUPTED",
    "EFI_VOLUME_FULL",
    "EFI_NO_MEDIA",
    "EFI_MEDIA_CHANGED",
    "EFI_NOT_FOUND",
    "EFI_ACCESS_DENIED",
    "EFI_NO_RESPONSE",
    "EFI_NO_MAPPING",
    "EFI_TIMEOUT",
    "EFI_NOT_STARTED",
    "EFI_ALREADY_STARTED",
    "EFI_ABORTED",
    "EFI_ICMP_ERROR",
    "EFI_TFTP_ERROR",
    "EFI_PROTOCOL_ERROR",
    "EFI_INCOMPATIBLE_VERSION",
    "EFI_SECURITY_VIOLATION",
    "EFI_CRC_ERROR",
    "EFI_END_OF_MEDIA",
    nullptr,
    nullptr,
    "EFI_END_OF_FILE",
    "EFI_INVALID_LANGUAGE",
    "EFI_COMPROMISED_DATA",
};

constexpr std::uint32_t kErrorBit = 0x80000000u;

}  // namespace

std::string efi_status_text(std::uint32_t status) {
  const char* name = nullptr;
  if (status == 0) {
    name = "EFI_SUCCESS";
  } else if ((status & kErrorBit) != 0 && (status & ~kErrorBit) < std::size(kErrorNames)) {
    name = kErrorNames[status & ~kErrorBit];
  }
  return name != nullptr ? std::string(name) + " (" + hex(status) + ")" : hex(status);
}

}  // namespace rsim
