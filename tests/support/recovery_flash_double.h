// A test-double flash family for the recovery sequence: one LPC row whose operations record what
// they were asked and keep the 2 MiB window in RAM (erase to 0xFF, program clears bits), with
// failure injection. install() puts it in place of the device tables (call it inside the run:
// Machine::run resets the module, tables included).
#pragma once

#include <cstdint>
#include <vector>

#include "flash/FlashDevice.h"
#include "sim/Machine.h"

namespace sim {

struct FlashRequest {
  enum class Kind { Erase, Write } kind = Kind::Erase;
  std::uint32_t address = 0;
  std::uint32_t length = 0;
  std::uint32_t block_base = 0;  // Write only
  const std::uint8_t* source = nullptr;
  Nanos time = 0;
  bool flash_open = false;  // BIOS write enable set and the embedded controller in flash mode
};

class RecordingFlash {
 public:
  static constexpr std::uint32_t kWindowBase = 0xFFE00000;
  static constexpr std::uint32_t kWindowSize = 0x200000;
  static constexpr std::uint8_t kInitialFill = 0x5A;
  static constexpr std::uint32_t kId = 0xC0DE;

  // `machine` supplies the time and the flash-open state recorded with each request.
  explicit RecordingFlash(Machine& machine);
  ~RecordingFlash();
  RecordingFlash(const RecordingFlash&) = delete;
  RecordingFlash& operator=(const RecordingFlash&) = delete;

  // Makes this the only LPC row (use LPC straps) until the next module reset.
  void install();
  void set_probe_status(EFI_STATUS status) { probe_status_ = status; }
  // The n-th (0-based) erase or write fails with `status` without touching the window.
  void fail_erase_at(std::size_t n, EFI_STATUS status) { fail_erase_ = {n, status}; }
  void fail_write_at(std::size_t n, EFI_STATUS status) { fail_write_ = {n, status}; }

  const std::vector<FlashRequest>& requests() const { return requests_; }
  std::vector<FlashRequest> of_kind(FlashRequest::Kind kind) const;
  const std::vector<std::uint8_t>& window() const { return window_; }
  int probes() const { return probes_; }

 private:
  struct Failure {
    std::size_t at = SIZE_MAX;
    EFI_STATUS status = EFI_SUCCESS;
  };
  static EFI_STATUS init(VOID*) { return EFI_SUCCESS; }
  static EFI_STATUS probe(UINTN id);
  static EFI_STATUS erase(UINT32 address, UINT32 length);
  static EFI_STATUS write(UINT32 address, const UINT8* source, UINT32* length, UINT32 block_base);
  static EFI_STATUS unsupported_read(UINT8*, UINT32, UINT32) { return EFI_UNSUPPORTED; }
  static EFI_STATUS unsupported_convert() { return EFI_UNSUPPORTED; }
  EFI_STATUS request(FlashRequest r, const Failure& failure);

  static RecordingFlash* current_;
  static const FlashDeviceOps kOps;
  Machine& machine_;
  FlashDevice row_{};
  EFI_STATUS probe_status_ = EFI_SUCCESS;
  Failure fail_erase_, fail_write_;
  std::vector<FlashRequest> requests_;
  std::vector<std::uint8_t> window_;
  int probes_ = 0;
};

}  // namespace sim
