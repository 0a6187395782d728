// A hostile PEI core: a services table whose LocatePpi, AllocatePages and AllocatePool fail or
// answer oddly at chosen calls, recovery providers whose capsule count, size and load disagree,
// and a speaker that reports errors. Every block it hands out is fenced: under AddressSanitizer an
// access outside it is reported, and the fence pages around it are not RAM to the IA32 engine.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "pi/DeviceRecoveryPpi.h"
#include "pi/PeiServices.h"
#include "pi/SpeakerPpi.h"
#include "sim/pei/PeiCore.h"
#include "sim/pei/PeiEnvironment.h"

namespace sim {

// What one recovery provider answers.
struct HostileProvider {
  EFI_STATUS number_status = EFI_SUCCESS;
  std::uint64_t number = 1;  // capsule count it reports (stored even when its status is an error)
  EFI_STATUS info_status = EFI_SUCCESS;
  std::uint64_t reported_size = 0;  // GetRecoveryCapsuleInfo's size
  EFI_STATUS load_status = EFI_SUCCESS;
  std::uint64_t delivered = 0;  // bytes a load writes (never more than the buffer the core handed out)
};

enum class HostileAllocation : std::uint8_t {
  Normal,     // a fresh block of the size asked for
  Fail,       // the call fails with `allocation_status`
  Unaligned,  // success, the block starts `misalign` bytes past a page boundary
  Overlap,    // success, the block overlaps the previous one (a fresh block when there is none)
};

struct HostilePeiConfig {
  std::uint32_t locate_failures = 0;  // bit n: the n-th LocatePpi call (from 0) returns EFI_NOT_FOUND
  std::uint32_t locate_null = 0;      // bit n: the n-th LocatePpi call succeeds with a null PPI
  bool speaker = true;
  EFI_STATUS speaker_status = EFI_SUCCESS;
  std::vector<HostileProvider> providers;
  HostileAllocation pages = HostileAllocation::Normal;
  HostileAllocation pool = HostileAllocation::Normal;
  EFI_STATUS allocation_status = EFI_OUT_OF_RESOURCES;
  std::uint32_t misalign = 1;
  // Every block handed out is this many bytes smaller than asked (at least one byte is left); it
  // starts as an unshortened one would. The module cannot tell: whatever it reads or writes past
  // the end is reported like any access outside a block.
  std::uint64_t shortfall = 0;
  std::uint64_t memory_limit = std::uint64_t{64} << 20;  // larger requests: EFI_OUT_OF_RESOURCES
};

class HostilePei final : public PeiCore {
 public:
  // `capsule` holds the bytes every provider delivers from (as many as it was told to).
  HostilePei(HostilePeiConfig config, std::shared_ptr<const std::vector<std::uint8_t>> capsule);
  ~HostilePei() override;
  HostilePei(const HostilePei&) = delete;
  HostilePei& operator=(const HostilePei&) = delete;

  const EFI_PEI_SERVICES** services() override { return &table_pointer_; }
  std::vector<PeiAllocation> handed_out() const override;
  // What a provider's load writes: what it delivers, no more than the block at `buffer` holds.
  std::uint64_t load_size(const void* ppi, std::uint64_t instance, const void* buffer) override;
  // Calls the module should not have made (a service not provided, a foreign services pointer,
  // a load into memory the core did not hand out). Each also ends the run as a hang.
  const std::vector<std::string>& misuses() const { return core_.misuses(); }
  // The services and PPI operations the module called, in order, with their numeric arguments
  // ("AllocatePages(3, 512)"): the same on every engine that runs the module alike.
  const std::vector<std::string>& calls() const { return calls_; }
  // Records a misuse and ends the current run as a hang naming it (aborts outside a run).
  [[noreturn]] void misuse(const std::string& what) override;

 private:
  struct Block {
    std::uint8_t* mapping;
    std::size_t mapping_size;
    std::uint8_t* data;
    std::size_t size;
  };
  struct ProviderFace {
    EFI_PEI_DEVICE_RECOVERY_MODULE_PPI ppi;  // first: the `This` the module passes leads here
    HostileProvider answers;
  };

  static EFI_STATUS EFIAPI locate_ppi(const EFI_PEI_SERVICES** services, const EFI_GUID* guid, UINTN instance,
                                      EFI_PEI_PPI_DESCRIPTOR** descriptor, VOID** ppi);
  static EFI_STATUS EFIAPI allocate_pages(const EFI_PEI_SERVICES** services, EFI_MEMORY_TYPE type,
                                          UINTN pages, EFI_PHYSICAL_ADDRESS* memory);
  static EFI_STATUS EFIAPI allocate_pool(const EFI_PEI_SERVICES** services, UINTN size, VOID** buffer);
  static EFI_STATUS EFIAPI set_frequency(EFI_PEI_SERVICES** services, UINT16 frequency);
  static EFI_STATUS EFIAPI beep(EFI_PEI_SERVICES** services, UINTN count, UINTN duration, UINTN interval);
  static EFI_STATUS EFIAPI get_number(EFI_PEI_SERVICES** services, EFI_PEI_DEVICE_RECOVERY_MODULE_PPI* self,
                                      UINTN* number);
  static EFI_STATUS EFIAPI get_info(EFI_PEI_SERVICES** services, EFI_PEI_DEVICE_RECOVERY_MODULE_PPI* self,
                                    UINTN instance, UINTN* size, EFI_GUID* type);
  static EFI_STATUS EFIAPI load(EFI_PEI_SERVICES** services, EFI_PEI_DEVICE_RECOVERY_MODULE_PPI* self,
                                UINTN instance, VOID* buffer);
  // The environment behind a services pointer; a foreign one is a misuse that ends the run.
  static HostilePei& of(const void* services, const char* what);
  EFI_STATUS allocate(HostileAllocation mode, std::uint64_t bytes, bool page_aligned, void** out);
  void note(const char* name, std::initializer_list<std::uint64_t> args);
  // The answers of the provider whose PPI is `self`; a foreign `self` is a misuse.
  const HostileProvider& provider(const void* self, const char* what);
  // The provider whose PPI is `self`; null for a foreign one.
  const HostileProvider* find_provider(const void* self) const;
  // Bytes a load of `p` writes at `buffer`.
  std::size_t delivery(const HostileProvider& p, const void* buffer) const;
  // Bytes from `p` to the end of the block that holds it; 0 when no block does.
  std::size_t room_at(const void* p) const;

  HostilePeiConfig config_;
  PeiEnvironment core_;  // the healthy core whose unprovided services this one keeps
  std::shared_ptr<const std::vector<std::uint8_t>> capsule_;
  EFI_PEI_SERVICES table_{};
  const EFI_PEI_SERVICES* table_pointer_ = &table_;
  PEI_SPEAKER_IF_PPI speaker_{};
  std::vector<std::unique_ptr<ProviderFace>> providers_;
  std::vector<Block> blocks_;
  std::uint64_t in_use_ = 0;
  std::uint32_t locate_calls_ = 0;
  std::vector<std::string> calls_;
};

}  // namespace sim
