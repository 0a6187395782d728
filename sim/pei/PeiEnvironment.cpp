// The simulated PEI services table, PPI database, allocators and call record.
#include "sim/pei/PeiEnvironment.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "pi/SpeakerPpi.h"
#include "sim/Platform.h"
#include "sim/pei/RecoveryPpiModel.h"
#include "sim/pei/SpeakerModel.h"

namespace sim {

namespace {

// Live environments, most recent last. A services pointer is only ever trusted after it has
// been found here, so a stray pointer from the module is reported instead of dereferenced.
std::vector<PeiEnvironment*>& live_environments() {
  static std::vector<PeiEnvironment*> live;
  return live;
}

constexpr std::uint64_t kPeiServicesSignature = 0x5652455320494550;  // "PEI SERV"
constexpr std::uint32_t kPeiServicesRevision = (1u << 16) | 70;      // PI 1.7
constexpr UINTN kPpiDescriptorFlags = 0x00000010;                    // EFI_PEI_PPI_DESCRIPTOR_PPI
constexpr std::uint64_t kPageSize = 4096;

constexpr const char* kSlotNames[] = {"InstallPpi",
                                      "ReInstallPpi",
                                      "LocatePpi",
                                      "NotifyPpi",
                                      "GetBootMode",
                                      "SetBootMode",
                                      "GetHobList",
                                      "CreateHob",
                                      "FfsFindNextVolume",
                                      "FfsFindNextFile",
                                      "FfsFindSectionData",
                                      "InstallPeiMemory",
                                      "AllocatePages",
                                      "AllocatePool",
                                      "CopyMem",
                                      "SetMem",
                                      "ReportStatusCode",
                                      "ResetSystem",
                                      "CpuIo",
                                      "PciCfg",
                                      "FfsFindFileByName",
                                      "FfsGetFileInfo",
                                      "FfsGetVolumeInfo",
                                      "RegisterForShadow",
                                      "FindSectionData3",
                                      "FfsGetFileInfo2",
                                      "ResetSystem2",
                                      "FreePages"};

// A slot the simulated environment does not provide. It has no arguments to tell it which
// environment is calling, so the misuse is charged to the most recent one.
template <int Slot>
EFI_STATUS EFIAPI unprovided_service() {
  PeiEnvironment* env = live_environments().empty() ? nullptr : live_environments().back();
  PeiEnvironment::fail_loudly(env, std::string("PEI service ") + kSlotNames[Slot] + " is not provided");
}

// Memory types a PEI module may ask AllocatePages for.
bool valid_page_type(EFI_MEMORY_TYPE type) {
  switch (static_cast<int>(type)) {
    case EfiReservedMemoryType:
    case EfiLoaderCode:
    case EfiLoaderData:
    case EfiBootServicesCode:
    case EfiBootServicesData:
    case EfiRuntimeServicesCode:
    case EfiRuntimeServicesData:
    case 9:   // ACPI reclaim memory
    case 10:  // ACPI NVS memory
      return true;
    default:
      return false;
  }
}

}  // namespace

PeiEnvironment::PeiEnvironment() {
  fill_table();
  live_environments().push_back(this);
}

PeiEnvironment::~PeiEnvironment() {
  auto& live = live_environments();
  live.erase(std::remove(live.begin(), live.end(), this), live.end());
}

void PeiEnvironment::fill_table() {
  table_.Hdr.Signature = kPeiServicesSignature;
  table_.Hdr.Revision = kPeiServicesRevision;
  table_.Hdr.HeaderSize = sizeof(EFI_PEI_SERVICES);
  table_.InstallPpi = unprovided_service<0>;
  table_.ReInstallPpi = unprovided_service<1>;
  table_.LocatePpi = locate_ppi;
  table_.NotifyPpi = unprovided_service<3>;
  table_.GetBootMode = unprovided_service<4>;
  table_.SetBootMode = unprovided_service<5>;
  table_.GetHobList = unprovided_service<6>;
  table_.CreateHob = unprovided_service<7>;
  table_.FfsFindNextVolume = unprovided_service<8>;
  table_.FfsFindNextFile = unprovided_service<9>;
  table_.FfsFindSectionData = unprovided_service<10>;
  table_.InstallPeiMemory = unprovided_service<11>;
  table_.AllocatePages = allocate_pages;
  table_.AllocatePool = allocate_pool;
  table_.CopyMem = unprovided_service<14>;
  table_.SetMem = unprovided_service<15>;
  table_.ReportStatusCode = unprovided_service<16>;
  table_.ResetSystem = unprovided_service<17>;
  table_.CpuIo = nullptr;  // no CPU I/O or PCI configuration PPI: the module uses the seam
  table_.PciCfg = nullptr;
  table_.FfsFindFileByName = unprovided_service<20>;
  table_.FfsGetFileInfo = unprovided_service<21>;
  table_.FfsGetVolumeInfo = unprovided_service<22>;
  table_.RegisterForShadow = unprovided_service<23>;
  table_.FindSectionData3 = unprovided_service<24>;
  table_.FfsGetFileInfo2 = unprovided_service<25>;
  table_.ResetSystem2 = unprovided_service<26>;
  table_.FreePages = unprovided_service<27>;
}

PeiEnvironment* PeiEnvironment::from(const void* services) {
  for (PeiEnvironment* env : live_environments()) {
    if (static_cast<const void*>(env->services()) == services) {
      return env;
    }
  }
  return nullptr;
}

PeiEnvironment& PeiEnvironment::of(const EFI_PEI_SERVICES** services, const char* service) {
  PeiEnvironment* env = from(services);
  if (env == nullptr) {
    fail_loudly(nullptr,
                std::string(service) + " called with a PEI services pointer that is not the table's");
  }
  return *env;
}

void PeiEnvironment::fail_loudly(PeiEnvironment* env, const std::string& what) {
  if (env != nullptr) {
    env->record_misuse(what);
  }
  if (Platform* p = Platform::current()) {
    p->end_run(p->hang(what, "a PEI service misused"));
  }
  std::fprintf(stderr, "simulated PEI environment: %s\n", what.c_str());
  std::abort();
}

void PeiEnvironment::install_ppi(const EFI_GUID& guid, void* ppi) {
  auto entry = std::make_unique<PpiEntry>();
  entry->guid = guid;
  entry->descriptor.Flags = kPpiDescriptorFlags;
  entry->descriptor.Guid = &entry->guid;
  entry->descriptor.Ppi = ppi;
  ppis_.push_back(std::move(entry));
}

SpeakerModel& PeiEnvironment::install_speaker() {
  speakers_.push_back(std::make_unique<SpeakerModel>(*this));
  install_ppi(gPeiSpeakerInterfacePpiGuid, speakers_.back()->ppi());
  return *speakers_.back();
}

RecoveryPpiModel& PeiEnvironment::install_recovery_ppi() {
  int index = static_cast<int>(recovery_ppis_.size());
  recovery_ppis_.push_back(std::make_unique<RecoveryPpiModel>(*this, index));
  install_ppi(gEfiPeiDeviceRecoveryModulePpiGuid, recovery_ppis_.back()->ppi());
  return *recovery_ppis_.back();
}

RecoveryPpiModel* PeiEnvironment::find_recovery_ppi(const void* ppi) {
  for (auto& model : recovery_ppis_) {
    if (static_cast<const void*>(model->ppi()) == ppi) {
      return model.get();
    }
  }
  return nullptr;
}

std::uint64_t PeiEnvironment::load_size(const void* ppi, std::uint64_t instance, const void* buffer) {
  (void)buffer;
  RecoveryPpiModel* model = find_recovery_ppi(ppi);
  return model != nullptr && instance < model->capsule_count()
             ? model->load_size(static_cast<std::size_t>(instance))
             : 1;
}

std::size_t PeiEnvironment::count(std::string_view name) const {
  return static_cast<std::size_t>(
      std::count_if(calls_.begin(), calls_.end(), [&](const PeiCall& c) { return c.name == name; }));
}

EFI_STATUS EFIAPI PeiEnvironment::locate_ppi(const EFI_PEI_SERVICES** services, const EFI_GUID* guid,
                                             UINTN instance, EFI_PEI_PPI_DESCRIPTOR** descriptor,
                                             VOID** ppi) {
  PeiEnvironment& env = of(services, "LocatePpi");
  PeiCall call;
  call.name = "LocatePpi";
  call.args = {instance, reinterpret_cast<std::uintptr_t>(descriptor)};
  if (guid == nullptr || ppi == nullptr) {
    call.status = EFI_INVALID_PARAMETER;
    env.record(std::move(call));
    return EFI_INVALID_PARAMETER;
  }
  call.guid = *guid;
  call.status = EFI_NOT_FOUND;
  UINTN seen = 0;
  for (auto& entry : env.ppis_) {
    if (std::memcmp(&entry->guid, guid, sizeof(EFI_GUID)) != 0) {
      continue;
    }
    if (seen++ == instance) {
      *ppi = entry->descriptor.Ppi;
      if (descriptor != nullptr) {
        *descriptor = &entry->descriptor;
      }
      call.status = EFI_SUCCESS;
      call.result = reinterpret_cast<std::uintptr_t>(entry->descriptor.Ppi);
      break;
    }
  }
  EFI_STATUS status = call.status;
  env.record(std::move(call));
  return status;
}

EFI_STATUS EFIAPI PeiEnvironment::allocate_pages(const EFI_PEI_SERVICES** services, EFI_MEMORY_TYPE type,
                                                 UINTN pages, EFI_PHYSICAL_ADDRESS* memory) {
  PeiEnvironment& env = of(services, "AllocatePages");
  PeiCall call;
  call.name = "AllocatePages";
  call.args = {static_cast<std::uint64_t>(type), pages};
  if (memory == nullptr || !valid_page_type(type) || pages == 0) {
    call.status = EFI_INVALID_PARAMETER;
  } else if (env.fail_pages_ != EFI_SUCCESS) {
    call.status = env.fail_pages_;
  } else if (pages > env.memory_.limit() / kPageSize) {
    call.status = EFI_OUT_OF_RESOURCES;
  } else if (void* p = env.memory_.allocate(pages * kPageSize)) {
    call.status = EFI_SUCCESS;
    call.result = reinterpret_cast<std::uintptr_t>(p);
    *memory = call.result;
    env.allocations_.push_back(
        PeiAllocation{true, static_cast<std::uint32_t>(type), pages * kPageSize, call.result});
  } else {
    call.status = EFI_OUT_OF_RESOURCES;
  }
  EFI_STATUS status = call.status;
  env.record(std::move(call));
  return status;
}

EFI_STATUS EFIAPI PeiEnvironment::allocate_pool(const EFI_PEI_SERVICES** services, UINTN size,
                                                VOID** buffer) {
  PeiEnvironment& env = of(services, "AllocatePool");
  PeiCall call;
  call.name = "AllocatePool";
  call.args = {size};
  if (buffer == nullptr) {
    call.status = EFI_INVALID_PARAMETER;
  } else if (env.fail_pool_ != EFI_SUCCESS) {
    call.status = env.fail_pool_;
  } else if (size > kMaxPoolAllocation) {
    call.status = EFI_OUT_OF_RESOURCES;
  } else if (void* p = env.memory_.allocate(size == 0 ? 1 : size)) {  // an empty request still gets a pointer
    call.status = EFI_SUCCESS;
    call.result = reinterpret_cast<std::uintptr_t>(p);
    *buffer = p;
    env.allocations_.push_back(PeiAllocation{false, 0, size, call.result});
  } else {
    call.status = EFI_OUT_OF_RESOURCES;
  }
  EFI_STATUS status = call.status;
  env.record(std::move(call));
  return status;
}

}  // namespace sim
