// A device recovery module PPI: offers capsules (from bytes or a file) to the module, numbered
// from capsule instance 0, with per-operation failure injection. Calls are recorded in the
// environment it is installed in.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "pi/DeviceRecoveryPpi.h"

namespace sim {

class PeiEnvironment;

enum class RecoveryOp { GetNumberRecoveryCapsules, GetRecoveryCapsuleInfo, LoadRecoveryCapsule };

class RecoveryPpiModel {
 public:
  // A capsule type GUID of our own: the module does not examine it.
  static constexpr EFI_GUID kDefaultCapsuleType = {
      0x6A1E2B7C, 0x52D4, 0x4C91, {0x9E, 0x3B, 0x71, 0x0F, 0xC2, 0x48, 0xAD, 0x15}
  };

  RecoveryPpiModel(PeiEnvironment& env, int index);
  RecoveryPpiModel(const RecoveryPpiModel&) = delete;
  RecoveryPpiModel& operator=(const RecoveryPpiModel&) = delete;

  EFI_PEI_DEVICE_RECOVERY_MODULE_PPI* ppi() { return &face_.ppi; }
  // Install order among the environment's recovery PPIs (its LocatePpi instance number).
  int index() const { return index_; }

  // Adds the next capsule. GetRecoveryCapsuleInfo reports `reported_size` when given (a producer
  // that misreports), else the byte count; a load copies no more than both allow.
  void add_capsule(std::vector<std::uint8_t> bytes, std::optional<std::uint64_t> reported_size = {});
  // The same for bytes the caller shares with other users (not copied; they must not change).
  void add_capsule(std::shared_ptr<const std::vector<std::uint8_t>> bytes,
                   std::optional<std::uint64_t> reported_size = {});
  // Reads the whole file as one capsule; throws std::runtime_error when it cannot be read.
  void add_capsule_file(const std::string& path);
  std::size_t capsule_count() const { return capsules_.size(); }
  const std::vector<std::uint8_t>& capsule(std::size_t i) const { return *capsules_.at(i).bytes; }
  // Bytes a load of capsule `i` writes into the caller's buffer.
  std::uint64_t load_size(std::size_t i) const {
    return std::min<std::uint64_t>(capsules_.at(i).bytes->size(), capsules_.at(i).reported_size);
  }
  void set_capsule_type(const EFI_GUID& type) { capsule_type_ = type; }

  // Every later call of `op` fails with `status` (EFI_SUCCESS restores normal service).
  void fail(RecoveryOp op, EFI_STATUS status);
  // What a failing GetNumberRecoveryCapsules stores in the caller's count; by default it stores
  // nothing and leaves the caller's variable as it was.
  void set_count_on_failure(std::uint64_t count) { count_on_failure_ = count; }

 private:
  struct Capsule {
    std::shared_ptr<const std::vector<std::uint8_t>> bytes;
    std::uint64_t reported_size;
  };
  // The PPI struct first, so that the `This` the module passes back leads to its model.
  struct Face {
    EFI_PEI_DEVICE_RECOVERY_MODULE_PPI ppi;
    RecoveryPpiModel* model;
  };

  static EFI_STATUS EFIAPI get_number(EFI_PEI_SERVICES** services, EFI_PEI_DEVICE_RECOVERY_MODULE_PPI* self,
                                      UINTN* number);
  static EFI_STATUS EFIAPI get_info(EFI_PEI_SERVICES** services, EFI_PEI_DEVICE_RECOVERY_MODULE_PPI* self,
                                    UINTN instance, UINTN* size, EFI_GUID* type);
  static EFI_STATUS EFIAPI load(EFI_PEI_SERVICES** services, EFI_PEI_DEVICE_RECOVERY_MODULE_PPI* self,
                                UINTN instance, VOID* buffer);
  // Checks both pointers the module passed and returns the model they lead to.
  static RecoveryPpiModel& of(EFI_PEI_SERVICES** services, EFI_PEI_DEVICE_RECOVERY_MODULE_PPI* self,
                              const char* operation);
  EFI_STATUS record(const char* operation, std::vector<std::uint64_t> args, EFI_STATUS status);
  EFI_STATUS injected(RecoveryOp op) const { return failures_[static_cast<int>(op)]; }

  PeiEnvironment& env_;
  int index_;
  Face face_{};
  std::vector<Capsule> capsules_;
  EFI_GUID capsule_type_ = kDefaultCapsuleType;
  EFI_STATUS failures_[3] = {EFI_SUCCESS, EFI_SUCCESS, EFI_SUCCESS};
  std::optional<std::uint64_t> count_on_failure_;
};

}  // namespace sim
