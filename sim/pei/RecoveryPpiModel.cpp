// Device recovery PPI operations: capsule count, capsule size and type, capsule load.
#include "sim/pei/RecoveryPpiModel.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "sim/pei/PeiEnvironment.h"

namespace sim {

RecoveryPpiModel::RecoveryPpiModel(PeiEnvironment& env, int index) : env_(env), index_(index) {
  face_.ppi.GetNumberRecoveryCapsules = get_number;
  face_.ppi.GetRecoveryCapsuleInfo = get_info;
  face_.ppi.LoadRecoveryCapsule = load;
  face_.model = this;
}

void RecoveryPpiModel::add_capsule(std::vector<std::uint8_t> bytes,
                                   std::optional<std::uint64_t> reported_size) {
  add_capsule(std::make_shared<const std::vector<std::uint8_t>>(std::move(bytes)), reported_size);
}

void RecoveryPpiModel::add_capsule(std::shared_ptr<const std::vector<std::uint8_t>> bytes,
                                   std::optional<std::uint64_t> reported_size) {
  std::uint64_t size = reported_size.value_or(bytes->size());
  capsules_.push_back(Capsule{std::move(bytes), size});
}

void RecoveryPpiModel::add_capsule_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    throw std::runtime_error("cannot open capsule file " + path);
  }
  std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (in.bad()) {
    throw std::runtime_error("cannot read capsule file " + path);
  }
  add_capsule(std::move(bytes));
}

void RecoveryPpiModel::fail(RecoveryOp op, EFI_STATUS status) { failures_[static_cast<int>(op)] = status; }

RecoveryPpiModel& RecoveryPpiModel::of(EFI_PEI_SERVICES** services, EFI_PEI_DEVICE_RECOVERY_MODULE_PPI* self,
                                       const char* operation) {
  PeiEnvironment* env = PeiEnvironment::from(services);
  if (env == nullptr) {
    PeiEnvironment::fail_loudly(
        nullptr, std::string(operation) + " called with a PEI services pointer that is not the table's");
  }
  RecoveryPpiModel* model = env->find_recovery_ppi(self);
  if (model == nullptr) {
    PeiEnvironment::fail_loudly(env,
                                std::string(operation) + " called with a This that is not a recovery PPI");
  }
  return *model;
}

EFI_STATUS RecoveryPpiModel::record(const char* operation, std::vector<std::uint64_t> args,
                                    EFI_STATUS status) {
  PeiCall call;
  call.name = operation;
  call.ppi = index_;
  call.args = std::move(args);
  call.status = status;
  env_.record(std::move(call));
  return status;
}

EFI_STATUS EFIAPI RecoveryPpiModel::get_number(EFI_PEI_SERVICES** services,
                                               EFI_PEI_DEVICE_RECOVERY_MODULE_PPI* self, UINTN* number) {
  RecoveryPpiModel& m = of(services, self, "GetNumberRecoveryCapsules");
  std::vector<std::uint64_t> args = {reinterpret_cast<std::uintptr_t>(number)};
  if (number == nullptr) {
    return m.record("GetNumberRecoveryCapsules", args, EFI_INVALID_PARAMETER);
  }
  if (EFI_STATUS failure = m.injected(RecoveryOp::GetNumberRecoveryCapsules)) {
    if (m.count_on_failure_) {
      *number = static_cast<UINTN>(*m.count_on_failure_);
    }
    return m.record("GetNumberRecoveryCapsules", args, failure);
  }
  *number = m.capsules_.size();
  return m.record("GetNumberRecoveryCapsules", args, EFI_SUCCESS);
}

EFI_STATUS EFIAPI RecoveryPpiModel::get_info(EFI_PEI_SERVICES** services,
                                             EFI_PEI_DEVICE_RECOVERY_MODULE_PPI* self, UINTN instance,
                                             UINTN* size, EFI_GUID* type) {
  RecoveryPpiModel& m = of(services, self, "GetRecoveryCapsuleInfo");
  std::vector<std::uint64_t> args = {instance};
  if (size == nullptr || type == nullptr) {
    return m.record("GetRecoveryCapsuleInfo", args, EFI_INVALID_PARAMETER);
  }
  if (EFI_STATUS failure = m.injected(RecoveryOp::GetRecoveryCapsuleInfo)) {
    return m.record("GetRecoveryCapsuleInfo", args, failure);
  }
  if (instance >= m.capsules_.size()) {
    return m.record("GetRecoveryCapsuleInfo", args, EFI_NOT_FOUND);
  }
  *size = static_cast<UINTN>(m.capsules_[instance].reported_size);
  *type = m.capsule_type_;
  return m.record("GetRecoveryCapsuleInfo", args, EFI_SUCCESS);
}

EFI_STATUS EFIAPI RecoveryPpiModel::load(EFI_PEI_SERVICES** services,
                                         EFI_PEI_DEVICE_RECOVERY_MODULE_PPI* self, UINTN instance,
                                         VOID* buffer) {
  RecoveryPpiModel& m = of(services, self, "LoadRecoveryCapsule");
  std::vector<std::uint64_t> args = {instance, reinterpret_cast<std::uintptr_t>(buffer)};
  if (buffer == nullptr) {
    return m.record("LoadRecoveryCapsule", args, EFI_INVALID_PARAMETER);
  }
  if (EFI_STATUS failure = m.injected(RecoveryOp::LoadRecoveryCapsule)) {
    return m.record("LoadRecoveryCapsule", args, failure);
  }
  if (instance >= m.capsules_.size()) {
    return m.record("LoadRecoveryCapsule", args, EFI_NOT_FOUND);
  }
  // The caller sized its buffer from the reported size: never write beyond it.
  const Capsule& c = m.capsules_[instance];
  std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(c.bytes->size(), c.reported_size));
  if (n != 0) {
    std::memcpy(buffer, c.bytes->data(), n);
  }
  return m.record("LoadRecoveryCapsule", args, EFI_SUCCESS);
}

}  // namespace sim
