// The detected part, from the module's own record of its last detection.
#include "tools/recovery-sim/DetectedPart.h"

#include "flash/FlashDetect.h"

namespace rsim {

std::optional<std::pair<std::string, std::string>> last_detected_part() {
  const FlashDevice* d = FlashDetectLastDevice();
  if (d == nullptr) {
    return std::nullopt;
  }
  return std::make_pair(std::string(d->VendorName), std::string(d->PartName));
}

}  // namespace rsim
