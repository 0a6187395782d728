// The recording flash family: requests, their effect on a RAM copy of the window, injected faults.
#include "tests/support/recovery_flash_double.h"

#include <algorithm>

#include "flash/FlashDetect.h"

namespace sim {

RecordingFlash* RecordingFlash::current_ = nullptr;
const FlashDeviceOps RecordingFlash::kOps = {
    init, probe, erase, write, unsupported_read, unsupported_convert};

RecordingFlash::RecordingFlash(Machine& machine) : machine_(machine), window_(kWindowSize, kInitialFill) {
  row_.Id = kId;
  row_.SizeCode = 5;  // 2 MiB
  row_.Ops = &kOps;
  current_ = this;
}

void RecordingFlash::install() { FlashDetectUseTables(&row_, 1, nullptr, 0); }

RecordingFlash::~RecordingFlash() {
  FlashDetectReset();
  current_ = nullptr;
}

std::vector<FlashRequest> RecordingFlash::of_kind(FlashRequest::Kind kind) const {
  std::vector<FlashRequest> out;
  std::copy_if(requests_.begin(), requests_.end(), std::back_inserter(out),
               [&](const FlashRequest& r) { return r.kind == kind; });
  return out;
}

EFI_STATUS RecordingFlash::probe(UINTN id) {
  current_->probes_++;
  return id == kId ? current_->probe_status_ : EFI_UNSUPPORTED;
}

EFI_STATUS RecordingFlash::erase(UINT32 address, UINT32 length) {
  return current_->request(FlashRequest{FlashRequest::Kind::Erase, address, length, 0, nullptr},
                           current_->fail_erase_);
}

EFI_STATUS RecordingFlash::write(UINT32 address, const UINT8* source, UINT32* length, UINT32 block_base) {
  return current_->request(FlashRequest{FlashRequest::Kind::Write, address, *length, block_base, source},
                           current_->fail_write_);
}

EFI_STATUS RecordingFlash::request(FlashRequest r, const Failure& failure) {
  r.time = machine_.platform().now();
  r.flash_open = machine_.lpc().bios_write_enabled() && machine_.ec().in_flash_mode();
  std::size_t nth = of_kind(r.kind).size();
  requests_.push_back(r);
  if (nth == failure.at) {
    return failure.status;
  }
  if (r.address < kWindowBase || r.length > kWindowSize - (r.address - kWindowBase)) {
    return EFI_INVALID_PARAMETER;
  }
  std::uint8_t* at = window_.data() + (r.address - kWindowBase);
  for (std::uint32_t i = 0; i < r.length; i++) {
    at[i] = r.kind == FlashRequest::Kind::Erase ? 0xFF : static_cast<std::uint8_t>(at[i] & r.source[i]);
  }
  return EFI_SUCCESS;
}

}  // namespace sim
