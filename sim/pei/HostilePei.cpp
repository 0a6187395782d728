// The hostile PEI core's services, providers, speaker and fenced allocations.
#include "sim/pei/HostilePei.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "sim/pei/RecoveryPpiModel.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define HOSTILE_PEI_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define HOSTILE_PEI_ASAN 1
#endif
#ifdef HOSTILE_PEI_ASAN
#include <sanitizer/asan_interface.h>
#endif

namespace sim {

namespace {

constexpr std::uint64_t kPageSize = 4096;
constexpr std::uint64_t kFourGiB = std::uint64_t{1} << 32;
constexpr std::uint8_t kUninitialised = 0xAF;  // RAM the core hands out is not cleared

// The environment whose services the module was given (one at a time).
HostilePei* live = nullptr;

void fence(void* p, std::size_t n) {
#ifdef HOSTILE_PEI_ASAN
  ASAN_POISON_MEMORY_REGION(p, n);
#else
  (void)p;
  (void)n;
#endif
}
void unfence(void* p, std::size_t n) {
#ifdef HOSTILE_PEI_ASAN
  ASAN_UNPOISON_MEMORY_REGION(p, n);
#else
  (void)p;
  (void)n;
#endif
}

}  // namespace

HostilePei::HostilePei(HostilePeiConfig config, std::shared_ptr<const std::vector<std::uint8_t>> capsule)
    : config_(std::move(config)), capsule_(std::move(capsule)) {
  // Every service the module does not use stays as the healthy core has it: a call is a misuse.
  table_ = **core_.services();
  table_.LocatePpi = locate_ppi;
  table_.AllocatePages = allocate_pages;
  table_.AllocatePool = allocate_pool;
  speaker_.SetFrequency = set_frequency;
  speaker_.Beep = beep;
  for (const HostileProvider& p : config_.providers) {
    auto face = std::make_unique<ProviderFace>();
    face->ppi.GetNumberRecoveryCapsules = get_number;
    face->ppi.GetRecoveryCapsuleInfo = get_info;
    face->ppi.LoadRecoveryCapsule = load;
    face->answers = p;
    providers_.push_back(std::move(face));
  }
  live = this;
}

HostilePei::~HostilePei() {
  for (const Block& b : blocks_) {
    if (b.mapping_size == 0) continue;  // overlaps an earlier block's mapping
    unfence(b.mapping, b.mapping_size);
    munmap(b.mapping, b.mapping_size);
  }
  if (live == this) live = nullptr;
}

void HostilePei::misuse(const std::string& what) { PeiEnvironment::fail_loudly(&core_, what); }

std::vector<PeiAllocation> HostilePei::handed_out() const {
  std::vector<PeiAllocation> out;
  for (const Block& b : blocks_) {
    out.push_back(PeiAllocation{false, 0, b.size, reinterpret_cast<std::uintptr_t>(b.data)});
  }
  return out;
}

std::uint64_t HostilePei::load_size(const void* ppi, std::uint64_t instance, const void* buffer) {
  (void)instance;
  const HostileProvider* p = find_provider(ppi);
  return p != nullptr ? delivery(*p, buffer) : 1;
}

HostilePei& HostilePei::of(const void* services, const char* what) {
  if (live == nullptr || services != static_cast<const void*>(live->services())) {
    PeiEnvironment::fail_loudly(
        live != nullptr ? &live->core_ : nullptr,
        std::string(what) + " called with a PEI services pointer that is not the table's");
  }
  return *live;
}

void HostilePei::note(const char* name, std::initializer_list<std::uint64_t> args) {
  std::string call = std::string(name) + "(";
  for (std::uint64_t a : args) call += (call.back() == '(' ? "" : ", ") + std::to_string(a);
  calls_.push_back(call + ")");
}

const HostileProvider* HostilePei::find_provider(const void* self) const {
  for (const auto& face : providers_) {
    if (static_cast<const void*>(&face->ppi) == self) return &face->answers;
  }
  return nullptr;
}

const HostileProvider& HostilePei::provider(const void* self, const char* what) {
  if (const HostileProvider* p = find_provider(self)) return *p;
  misuse(std::string(what) + " called with a This that is not a recovery PPI");
}

std::size_t HostilePei::delivery(const HostileProvider& p, const void* buffer) const {
  // A provider writes what it delivers, but no more than the block it was handed holds: the
  // module sized that block from the size the provider reported.
  const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(p.delivered, capsule_->size()));
  return std::min(n, room_at(buffer));
}

std::size_t HostilePei::room_at(const void* p) const {
  auto a = reinterpret_cast<std::uintptr_t>(p);
  std::size_t room = 0;
  for (const Block& b : blocks_) {
    auto d = reinterpret_cast<std::uintptr_t>(b.data);
    if (a >= d && a < d + b.size) room = std::max(room, static_cast<std::size_t>(d + b.size - a));
  }
  return room;
}

EFI_STATUS HostilePei::allocate(HostileAllocation mode, std::uint64_t bytes, bool page_aligned, void** out) {
  if (mode == HostileAllocation::Fail) return config_.allocation_status;
  if (bytes > config_.memory_limit || in_use_ > config_.memory_limit - bytes) return EFI_OUT_OF_RESOURCES;
  bytes -= std::min(config_.shortfall, bytes - 1);
  if (mode == HostileAllocation::Overlap && !blocks_.empty()) {
    // The previous block, shifted by half its size: both users now share its upper half.
    const Block& last = blocks_.back();
    std::uint8_t* data = last.data + last.size / 2;
    std::size_t room = static_cast<std::size_t>(last.mapping + last.mapping_size - data);
    if (bytes <= room) {
      unfence(data, static_cast<std::size_t>(bytes));
      blocks_.push_back(Block{last.mapping, 0, data, static_cast<std::size_t>(bytes)});
      *out = data;
      return EFI_SUCCESS;
    }
  }
  // A page of fence on each side; the block ends right at the upper fence.
  const std::size_t skew = mode == HostileAllocation::Unaligned ? config_.misalign % kPageSize : 0;
  const std::size_t size = static_cast<std::size_t>(bytes);
  const std::size_t body = (size + skew + kPageSize - 1) / kPageSize * kPageSize;
  const std::size_t mapping_size = body + 2 * kPageSize;
  void* m =
      mmap(nullptr, mapping_size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_32BIT, -1, 0);
  if (m == MAP_FAILED) return EFI_OUT_OF_RESOURCES;
  auto* mapping = static_cast<std::uint8_t*>(m);
  if (reinterpret_cast<std::uintptr_t>(mapping) + mapping_size > kFourGiB) {
    munmap(m, mapping_size);
    return EFI_OUT_OF_RESOURCES;
  }
  // Pages start at a page boundary (or `skew` past it); pool blocks end right at the upper fence.
  std::uint8_t* data =
      page_aligned || skew != 0 ? mapping + kPageSize + skew : mapping + kPageSize + body - size;
  std::memset(mapping, kUninitialised, mapping_size);
  fence(mapping, mapping_size);
  unfence(data, size);
  blocks_.push_back(Block{mapping, mapping_size, data, size});
  in_use_ += bytes;
  *out = data;
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI HostilePei::locate_ppi(const EFI_PEI_SERVICES** services, const EFI_GUID* guid,
                                         UINTN instance, EFI_PEI_PPI_DESCRIPTOR** descriptor, VOID** ppi) {
  HostilePei& pei = of(services, "LocatePpi");
  pei.note("LocatePpi", {instance});
  const std::uint32_t call = pei.locate_calls_++;
  if (guid == nullptr || ppi == nullptr) return EFI_INVALID_PARAMETER;
  if (call < 32 && (pei.config_.locate_failures >> call & 1) != 0) return EFI_NOT_FOUND;
  if (call < 32 && (pei.config_.locate_null >> call & 1) != 0) {
    *ppi = nullptr;
    return EFI_SUCCESS;
  }
  void* found = nullptr;
  if (std::memcmp(guid, &gPeiSpeakerInterfacePpiGuid, sizeof(EFI_GUID)) == 0) {
    if (pei.config_.speaker && instance == 0) found = &pei.speaker_;
  } else if (std::memcmp(guid, &gEfiPeiDeviceRecoveryModulePpiGuid, sizeof(EFI_GUID)) == 0) {
    if (instance < pei.providers_.size()) found = &pei.providers_[instance]->ppi;
  }
  if (found == nullptr) return EFI_NOT_FOUND;
  *ppi = found;
  if (descriptor != nullptr) *descriptor = nullptr;  // the module never asks for it
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI HostilePei::allocate_pages(const EFI_PEI_SERVICES** services, EFI_MEMORY_TYPE type,
                                             UINTN pages, EFI_PHYSICAL_ADDRESS* memory) {
  HostilePei& pei = of(services, "AllocatePages");
  pei.note("AllocatePages", {static_cast<std::uint64_t>(type), pages});
  if (memory == nullptr || pages == 0) return EFI_INVALID_PARAMETER;
  if (pages > pei.config_.memory_limit / kPageSize) return EFI_OUT_OF_RESOURCES;
  void* p = nullptr;
  EFI_STATUS status = pei.allocate(pei.config_.pages, std::uint64_t{pages} * kPageSize, true, &p);
  if (status == EFI_SUCCESS) *memory = reinterpret_cast<std::uintptr_t>(p);
  return status;
}

EFI_STATUS EFIAPI HostilePei::allocate_pool(const EFI_PEI_SERVICES** services, UINTN size, VOID** buffer) {
  HostilePei& pei = of(services, "AllocatePool");
  pei.note("AllocatePool", {size});
  if (buffer == nullptr) return EFI_INVALID_PARAMETER;
  void* p = nullptr;
  EFI_STATUS status = pei.allocate(pei.config_.pool, size == 0 ? 1 : size, false, &p);
  if (status == EFI_SUCCESS) *buffer = p;
  return status;
}

EFI_STATUS EFIAPI HostilePei::set_frequency(EFI_PEI_SERVICES** services, UINT16 frequency) {
  HostilePei& pei = of(services, "SetFrequency");
  pei.note("SetFrequency", {frequency});
  return pei.config_.speaker_status;
}

EFI_STATUS EFIAPI HostilePei::beep(EFI_PEI_SERVICES** services, UINTN count, UINTN duration, UINTN interval) {
  HostilePei& pei = of(services, "GenerateBeep");
  pei.note("GenerateBeep", {count, duration, interval});
  return pei.config_.speaker_status;
}

EFI_STATUS EFIAPI HostilePei::get_number(EFI_PEI_SERVICES** services,
                                         EFI_PEI_DEVICE_RECOVERY_MODULE_PPI* self, UINTN* number) {
  HostilePei& pei = of(services, "GetNumberRecoveryCapsules");
  pei.note("GetNumberRecoveryCapsules", {});
  const HostileProvider& p = pei.provider(self, "GetNumberRecoveryCapsules");
  if (number == nullptr) return EFI_INVALID_PARAMETER;
  *number = static_cast<UINTN>(p.number);
  return p.number_status;
}

EFI_STATUS EFIAPI HostilePei::get_info(EFI_PEI_SERVICES** services, EFI_PEI_DEVICE_RECOVERY_MODULE_PPI* self,
                                       UINTN instance, UINTN* size, EFI_GUID* type) {
  HostilePei& pei = of(services, "GetRecoveryCapsuleInfo");
  pei.note("GetRecoveryCapsuleInfo", {instance});
  const HostileProvider& p = pei.provider(self, "GetRecoveryCapsuleInfo");
  if (size == nullptr || type == nullptr) return EFI_INVALID_PARAMETER;
  *size = static_cast<UINTN>(p.reported_size);
  *type = RecoveryPpiModel::kDefaultCapsuleType;
  return p.info_status;
}

EFI_STATUS EFIAPI HostilePei::load(EFI_PEI_SERVICES** services, EFI_PEI_DEVICE_RECOVERY_MODULE_PPI* self,
                                   UINTN instance, VOID* buffer) {
  HostilePei& pei = of(services, "LoadRecoveryCapsule");
  pei.note("LoadRecoveryCapsule", {instance});
  const HostileProvider& p = pei.provider(self, "LoadRecoveryCapsule");
  if (buffer == nullptr) return EFI_INVALID_PARAMETER;
  if (pei.room_at(buffer) == 0) pei.misuse("LoadRecoveryCapsule into memory the core did not hand out");
  const std::size_t n = pei.delivery(p, buffer);
  if (n != 0) std::memcpy(buffer, pei.capsule_->data(), n);
  return p.load_status;
}

}  // namespace sim
