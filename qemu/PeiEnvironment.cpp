// PEI services table, recovery module PPI and speaker PPI for the module on QEMU. These functions
// are called by the module at user privilege; they only touch memory and the debug ports.
#include "qemu/PeiEnvironment.h"

#include <stddef.h>

#include "qemu/Console.h"
#include "qemu/MemoryLayout.h"
#include "qemu/PpiGuids.h"

namespace harness {

namespace {

constexpr uint32_t kSuccess = 0;
constexpr uint32_t kInvalidParameter = 0x80000002;
constexpr uint32_t kOutOfResources = 0x80000009;
constexpr uint32_t kNotFound = 0x8000000E;

// EFI_PEI_SERVICES on IA32: a 24-byte table header, then 28 four-byte slots from offset 0x18.
constexpr uint32_t kHeaderWords = 6;
constexpr uint32_t kSlotCount = 28;
constexpr uint32_t kSlotLocatePpi = 2;       // offset 0x20
constexpr uint32_t kSlotAllocatePages = 12;  // offset 0x48
constexpr uint32_t kSlotAllocatePool = 13;   // offset 0x4C
constexpr uint32_t kSlotCpuIo = 18;          // offset 0x60, a PPI pointer rather than a function
constexpr uint32_t kSlotPciCfg = 19;         // offset 0x64, likewise
constexpr uint64_t kPeiServicesSignature = 0x5652455320494550;  // "PEI SERV"
constexpr uint32_t kPeiServicesRevision = (1u << 16) | 70;
static_assert((kHeaderWords + kSlotLocatePpi) * 4 == 0x20 &&
                  (kHeaderWords + kSlotAllocatePages) * 4 == 0x48 &&
                  (kHeaderWords + kSlotAllocatePool) * 4 == 0x4C && (kHeaderWords + kSlotCount) * 4 == 0x88,
              "IA32 offsets of the PEI services");

uint32_t services_table[kHeaderWords + kSlotCount];
// The module receives the address of this pointer and must hand that same address back.
const uint32_t* services_pointer;

typedef const uint32_t* const* Services;

// Device recovery module PPI: GetNumberRecoveryCapsules, GetRecoveryCapsuleInfo,
// LoadRecoveryCapsule, in this order.
struct RecoveryModulePpi;
typedef uint32_t (*GetNumberFunction)(Services, RecoveryModulePpi*, uint32_t*);
typedef uint32_t (*GetInfoFunction)(Services, RecoveryModulePpi*, uint32_t, uint32_t*, Guid*);
typedef uint32_t (*LoadFunction)(Services, RecoveryModulePpi*, uint32_t, void*);
struct RecoveryModulePpi {
  GetNumberFunction get_number;
  GetInfoFunction get_info;
  LoadFunction load;
};
static_assert(sizeof(RecoveryModulePpi) == 12 && offsetof(RecoveryModulePpi, load) == 8, "IA32 layout");

// Speaker PPI: SetFrequency, then Beep.
typedef uint32_t (*SetFrequencyFunction)(Services, uint16_t);
typedef uint32_t (*BeepFunction)(Services, uint32_t, uint32_t, uint32_t);
struct SpeakerPpi {
  SetFrequencyFunction set_frequency;
  BeepFunction beep;
};
static_assert(sizeof(SpeakerPpi) == 8, "IA32 layout");

struct Allocation {
  uint32_t address;
  uint32_t size;
};

const uint8_t* capsule_data;
uint32_t capsule_size;
uint32_t next_page = kPagesBase;
uint32_t next_pool = kPoolBase;
Allocation page_allocations[16];
uint32_t page_allocation_count;

bool same_guid(const Guid* a, const Guid& b) {
  const uint8_t* x = reinterpret_cast<const uint8_t*>(a);
  const uint8_t* y = reinterpret_cast<const uint8_t*>(&b);
  for (uint32_t i = 0; i < sizeof(Guid); i++) {
    if (x[i] != y[i]) {
      return false;
    }
  }
  return true;
}

// Every call must carry back the services value the module was given.
void check_services(const char* caller, Services services) {
  if (services != &services_pointer) {
    log_line("error: %s: PeiServices argument 0x%08x, expected 0x%08x", caller,
             reinterpret_cast<uint32_t>(services), reinterpret_cast<uint32_t>(&services_pointer));
  }
}

const char* guid_name(const Guid* guid) {
  if (same_guid(guid, kSpeakerPpiGuid)) {
    return "speaker";
  }
  if (same_guid(guid, kRecoveryModulePpiGuid)) {
    return "recovery";
  }
  return nullptr;
}

uint32_t get_number(Services services, RecoveryModulePpi* self, uint32_t* count);
uint32_t get_info(Services services, RecoveryModulePpi* self, uint32_t instance, uint32_t* size, Guid* type);
uint32_t load(Services services, RecoveryModulePpi* self, uint32_t instance, void* buffer);
uint32_t set_frequency(Services services, uint16_t frequency);
uint32_t beep(Services services, uint32_t count, uint32_t duration, uint32_t interval);

RecoveryModulePpi recovery_ppi = {get_number, get_info, load};
SpeakerPpi speaker_ppi = {set_frequency, beep};

void check_this(const char* caller, RecoveryModulePpi* self) {
  if (self != &recovery_ppi) {
    log_line("error: %s: This 0x%08x, expected 0x%08x", caller, reinterpret_cast<uint32_t>(self),
             reinterpret_cast<uint32_t>(&recovery_ppi));
  }
}

uint32_t locate_ppi(Services services, const Guid* guid, uint32_t instance, void* descriptor, void** ppi) {
  check_services("LocatePpi", services);
  // The module finds its PPIs by GUID and instance alone; it never asks for the descriptor.
  if (descriptor != nullptr) {
    log_line("error: pei: locate-ppi with a descriptor pointer 0x%08x",
             reinterpret_cast<uint32_t>(descriptor));
  }
  const char* name = guid_name(guid);
  void* found = nullptr;
  if (instance == 0 && same_guid(guid, kSpeakerPpiGuid)) {
    found = &speaker_ppi;
  } else if (instance == 0 && same_guid(guid, kRecoveryModulePpiGuid)) {
    found = &recovery_ppi;
  }
  uint32_t status = found != nullptr ? kSuccess : kNotFound;
  if (name != nullptr) {
    log_line("pei: locate-ppi %s instance %u -> 0x%08x", name, instance, status);
  } else {
    log_line("pei: locate-ppi {%08X-%04X-%04X-%02X%02X-...} instance %u -> 0x%08x", guid->data1, guid->data2,
             guid->data3, guid->data4[0], guid->data4[1], instance, status);
  }
  if (found != nullptr) {
    *ppi = found;
  }
  return status;
}

uint32_t allocate_pages(Services services, uint32_t memory_type, uint32_t pages, uint64_t* memory) {
  check_services("AllocatePages", services);
  uint32_t status = kOutOfResources;
  uint32_t address = 0;
  if (pages != 0 && pages <= (kPagesLimit - next_page) / kPageSize &&
      page_allocation_count < sizeof(page_allocations) / sizeof(page_allocations[0])) {
    address = next_page;
    next_page += pages * kPageSize;
    page_allocations[page_allocation_count++] = {address, pages * kPageSize};
    // A 64-bit physical address, as the IA32 ABI passes it.
    *memory = address;
    status = kSuccess;
  }
  log_line("pei: allocate-pages type %u pages %u -> 0x%08x at 0x%08x", memory_type, pages, status, address);
  return status;
}

uint32_t allocate_pool(Services services, uint32_t size, void** buffer) {
  check_services("AllocatePool", services);
  uint32_t rounded = (size + 7u) & ~7u;
  uint32_t status = kOutOfResources;
  uint32_t address = 0;
  if (size != 0 && rounded >= size && rounded <= kPoolLimit - next_pool) {
    address = next_pool;
    next_pool += rounded;
    *buffer = reinterpret_cast<void*>(address);
    status = kSuccess;
  }
  log_line("pei: allocate-pool size %u -> 0x%08x at 0x%08x", size, status, address);
  return status;
}

// A slot the module has no business calling; the slot number tells which one it was.
template <uint32_t Slot>
uint32_t unexpected_service() {
  fail("pei: the module called PEI service slot %u (offset 0x%02x)", Slot, (kHeaderWords + Slot) * 4);
}

typedef uint32_t (*AnyService)();
constexpr AnyService kUnexpected[kSlotCount] = {
    unexpected_service<0>,  unexpected_service<1>,  unexpected_service<2>,  unexpected_service<3>,
    unexpected_service<4>,  unexpected_service<5>,  unexpected_service<6>,  unexpected_service<7>,
    unexpected_service<8>,  unexpected_service<9>,  unexpected_service<10>, unexpected_service<11>,
    unexpected_service<12>, unexpected_service<13>, unexpected_service<14>, unexpected_service<15>,
    unexpected_service<16>, unexpected_service<17>, unexpected_service<18>, unexpected_service<19>,
    unexpected_service<20>, unexpected_service<21>, unexpected_service<22>, unexpected_service<23>,
    unexpected_service<24>, unexpected_service<25>, unexpected_service<26>, unexpected_service<27>};

uint32_t get_number(Services services, RecoveryModulePpi* self, uint32_t* count) {
  check_services("GetNumberRecoveryCapsules", services);
  check_this("GetNumberRecoveryCapsules", self);
  *count = capsule_data != nullptr ? 1 : 0;
  log_line("recovery-ppi: get-number-recovery-capsules -> %u", *count);
  return kSuccess;
}

uint32_t get_info(Services services, RecoveryModulePpi* self, uint32_t instance, uint32_t* size, Guid* type) {
  check_services("GetRecoveryCapsuleInfo", services);
  check_this("GetRecoveryCapsuleInfo", self);
  if (instance != 0 || capsule_data == nullptr) {
    log_line("recovery-ppi: get-recovery-capsule-info instance %u -> 0x%08x", instance, kNotFound);
    return kNotFound;
  }
  *size = capsule_size;
  *type = kCapsuleTypeGuid;
  log_line("recovery-ppi: get-recovery-capsule-info instance %u -> size %u", instance, capsule_size);
  return kSuccess;
}

uint32_t load(Services services, RecoveryModulePpi* self, uint32_t instance, void* buffer) {
  check_services("LoadRecoveryCapsule", services);
  check_this("LoadRecoveryCapsule", self);
  uint32_t address = reinterpret_cast<uint32_t>(buffer);
  if (instance != 0 || capsule_data == nullptr) {
    log_line("recovery-ppi: load-recovery-capsule instance %u -> 0x%08x", instance, kNotFound);
    return kNotFound;
  }
  // The buffer must be memory the module was given, large enough for the whole capsule.
  bool fits = false;
  for (uint32_t i = 0; i < page_allocation_count; i++) {
    const Allocation& block = page_allocations[i];
    fits = fits || (address >= block.address && address - block.address <= block.size &&
                    capsule_size <= block.size - (address - block.address));
  }
  if (!fits) {
    log_line("error: recovery-ppi: load-recovery-capsule into 0x%08x, which is no allocation of %u bytes",
             address, capsule_size);
    return kInvalidParameter;
  }
  uint8_t* to = static_cast<uint8_t*>(buffer);
  for (uint32_t i = 0; i < capsule_size; i++) {
    to[i] = capsule_data[i];
  }
  log_line("recovery-ppi: load-recovery-capsule instance %u buffer 0x%08x -> 0x%08x", instance, address,
           kSuccess);
  return kSuccess;
}

uint32_t set_frequency(Services services, uint16_t frequency) {
  check_services("SetFrequency", services);
  log_line("speaker: set-frequency %u", frequency);
  return kSuccess;
}

uint32_t beep(Services services, uint32_t count, uint32_t duration, uint32_t interval) {
  check_services("Beep", services);
  log_line("speaker: beep %u %u %u", count, duration, interval);
  return kSuccess;
}

template <typename Function>
uint32_t address_of(Function function) {
  return reinterpret_cast<uint32_t>(function);
}

}  // namespace

const void* pei_environment_init(const uint8_t* capsule, uint32_t size) {
  capsule_data = capsule;
  capsule_size = size;
  services_table[0] = static_cast<uint32_t>(kPeiServicesSignature);
  services_table[1] = static_cast<uint32_t>(kPeiServicesSignature >> 32);
  services_table[2] = kPeiServicesRevision;
  services_table[3] = sizeof(services_table);
  for (uint32_t slot = 0; slot < kSlotCount; slot++) {
    services_table[kHeaderWords + slot] = address_of(kUnexpected[slot]);
  }
  services_table[kHeaderWords + kSlotLocatePpi] = address_of(locate_ppi);
  services_table[kHeaderWords + kSlotAllocatePages] = address_of(allocate_pages);
  services_table[kHeaderWords + kSlotAllocatePool] = address_of(allocate_pool);
  services_table[kHeaderWords + kSlotCpuIo] = 0;
  services_table[kHeaderWords + kSlotPciCfg] = 0;
  services_pointer = services_table;
  return &services_pointer;
}

}  // namespace harness
