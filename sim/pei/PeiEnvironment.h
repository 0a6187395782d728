// A simulated PEI environment: the EFI_PEI_SERVICES table the module receives, the PPI database
// behind LocatePpi, page and pool allocation below 4 GiB, and a record of every call.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "pi/PeiServices.h"
#include "sim/pei/LowMemory.h"
#include "sim/pei/PeiCall.h"
#include "sim/pei/PeiCore.h"

namespace sim {

class RecoveryPpiModel;
class SpeakerModel;

class PeiEnvironment final : public PeiCore {
 public:
  // Pages and pool together may not exceed this unless set_memory_limit says otherwise.
  static constexpr std::uint64_t kDefaultMemoryLimit = std::uint64_t{256} << 20;
  // A pool allocation lives in a memory-allocation HOB, whose 16-bit length (a multiple of 8)
  // also holds the 8-byte HOB header.
  static constexpr std::uint64_t kMaxPoolAllocation = 0xFFF8 - 8;

  PeiEnvironment();
  ~PeiEnvironment() override;
  PeiEnvironment(const PeiEnvironment&) = delete;
  PeiEnvironment& operator=(const PeiEnvironment&) = delete;

  // What the module receives as its PeiServices argument (a pointer to the table pointer).
  const EFI_PEI_SERVICES** services() override { return &table_pointer_; }
  // The live environment whose services() equals `services`; null when there is none.
  static PeiEnvironment* from(const void* services);

  // --- the PPI database ---------------------------------------------------------------------------
  // Adds `ppi` as the next instance (0, 1, 2, ...) of `guid`. The PPI must outlive the environment.
  void install_ppi(const EFI_GUID& guid, void* ppi);
  // Installs a speaker PPI (the first one installed answers every SetFrequency and Beep).
  SpeakerModel& install_speaker();
  // Installs the next device recovery PPI instance, with no capsules yet.
  RecoveryPpiModel& install_recovery_ppi();
  SpeakerModel* speaker() { return speakers_.empty() ? nullptr : speakers_.front().get(); }
  RecoveryPpiModel& recovery_ppi(std::size_t i) { return *recovery_ppis_.at(i); }
  // The installed recovery model whose PPI struct is at `ppi`; null when there is none.
  RecoveryPpiModel* find_recovery_ppi(const void* ppi);

  // --- memory ---------------------------------------------------------------------------------
  // Every later AllocatePages (or AllocatePool) call fails with `status`; EFI_SUCCESS restores.
  void fail_allocate_pages(EFI_STATUS status) { fail_pages_ = status; }
  void fail_allocate_pool(EFI_STATUS status) { fail_pool_ = status; }
  void set_memory_limit(std::uint64_t bytes) { memory_.set_limit(bytes); }
  const std::vector<PeiAllocation>& allocations() const { return allocations_; }
  std::vector<PeiAllocation> handed_out() const override { return allocations_; }
  // A recovery model's load writes its capsule (one byte is checked for a PPI it does not know).
  std::uint64_t load_size(const void* ppi, std::uint64_t instance, const void* buffer) override;
  [[noreturn]] void misuse(const std::string& what) override { fail_loudly(this, what); }

  // --- the record -----------------------------------------------------------------------------
  const std::vector<PeiCall>& calls() const { return calls_; }
  std::size_t count(std::string_view name) const;
  // Calls the module should not have made: unprovided services, foreign pointers.
  const std::vector<std::string>& misuses() const { return misuses_; }

  // For the PPI models.
  void record(PeiCall call) { calls_.push_back(std::move(call)); }
  void record_misuse(std::string what) { misuses_.push_back(std::move(what)); }
  // Records the misuse and ends the current run (as a hang naming it), or aborts outside a run.
  [[noreturn]] static void fail_loudly(PeiEnvironment* env, const std::string& what);

 private:
  struct PpiEntry {
    EFI_GUID guid;
    EFI_PEI_PPI_DESCRIPTOR descriptor;
  };

  static EFI_STATUS EFIAPI locate_ppi(const EFI_PEI_SERVICES** services, const EFI_GUID* guid, UINTN instance,
                                      EFI_PEI_PPI_DESCRIPTOR** descriptor, VOID** ppi);
  static EFI_STATUS EFIAPI allocate_pages(const EFI_PEI_SERVICES** services, EFI_MEMORY_TYPE type,
                                          UINTN pages, EFI_PHYSICAL_ADDRESS* memory);
  static EFI_STATUS EFIAPI allocate_pool(const EFI_PEI_SERVICES** services, UINTN size, VOID** buffer);
  static PeiEnvironment& of(const EFI_PEI_SERVICES** services, const char* service);
  void fill_table();

  EFI_PEI_SERVICES table_{};
  const EFI_PEI_SERVICES* table_pointer_ = &table_;
  std::vector<std::unique_ptr<PpiEntry>> ppis_;
  std::vector<std::unique_ptr<SpeakerModel>> speakers_;
  std::vector<std::unique_ptr<RecoveryPpiModel>> recovery_ppis_;
  LowMemory memory_{kDefaultMemoryLimit};
  std::vector<PeiAllocation> allocations_;
  EFI_STATUS fail_pages_ = EFI_SUCCESS;
  EFI_STATUS fail_pool_ = EFI_SUCCESS;
  std::vector<PeiCall> calls_;
  std::vector<std::string> misuses_;
};

}  // namespace sim
