// IA32 services table and PPI mirrors in emulated RAM, and the thunks that marshal each cdecl
// call to the host-side models: 32-bit arguments widened, out-parameters copied in and out.
#include "sim/ia32/PeiBridge.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "pi/DeviceRecoveryPpi.h"
#include "pi/SpeakerPpi.h"

namespace sim::ia32 {

namespace {

constexpr std::uint8_t kRet = 0xC3;
constexpr std::uint32_t kHeaderSize = 24;                  // EFI_TABLE_HEADER on every build
constexpr std::uint32_t kPpiDescriptorFlags = 0x00000010;  // EFI_PEI_PPI_DESCRIPTOR_PPI
constexpr std::uint64_t kPageSize = 4096;
constexpr unsigned kLocatePpi = 2, kAllocatePages = 12, kAllocatePool = 13;

std::string hex(std::uint64_t v) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "0x%08llX", static_cast<unsigned long long>(v));
  return buf;
}

// The host table's slot `n` (after the header), as the address it holds.
std::uintptr_t host_slot(const EFI_PEI_SERVICES* table, unsigned n) {
  std::uintptr_t v;
  std::memcpy(&v, reinterpret_cast<const std::uint8_t*>(table) + sizeof(EFI_TABLE_HEADER) + n * sizeof(void*),
              sizeof v);
  return v;
}

}  // namespace

PeiBridge::PeiBridge(uc_engine* uc, GuestMemory& memory, PeiCore& env) : uc_(uc), memory_(memory), env_(env) {
  heap_size_ = static_cast<std::uint32_t>(GuestMemory::kPage);
  heap_ = memory_.allocate(heap_size_);
  heap_base_ = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(heap_));
  std::uint8_t* code = memory_.allocate(kMaxThunks);
  std::memset(code, kRet, kMaxThunks);
  thunks_ = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(code));

  const EFI_PEI_SERVICES* host = *env_.services();
  table_pointer_ = carve(4);
  const std::uint32_t table = carve(kHeaderSize + 4 * kServiceSlots);
  std::memcpy(heap_ + (table_pointer_ - heap_base_), &table, 4);
  std::uint8_t* t = heap_ + (table - heap_base_);
  std::memcpy(t, &host->Hdr.Signature, 8);
  std::memcpy(t + 8, &host->Hdr.Revision, 4);
  const std::uint32_t header_size = kHeaderSize + 4 * kServiceSlots;
  std::memcpy(t + 12, &header_size, 4);
  for (unsigned n = 0; n < kServiceSlots; n++) {
    // A slot the host leaves empty (CPU I/O, PCI configuration PPIs) stays empty here too.
    std::uint32_t target = host_slot(host, n) == 0 ? 0 : add_thunk(Thunk{Kind::Service, n, nullptr});
    std::memcpy(t + kHeaderSize + 4 * n, &target, 4);
  }
}

std::uint32_t PeiBridge::carve(std::uint32_t bytes) {
  bytes = (bytes + 7) & ~7u;
  if (heap_used_ + bytes > heap_size_) {
    misuse("the IA32 PEI tables outgrew their page");
  }
  std::uint32_t at = heap_base_ + heap_used_;
  heap_used_ += bytes;
  return at;
}

std::uint32_t PeiBridge::add_thunk(Thunk t) {
  if (thunk_list_.size() >= kMaxThunks) {
    misuse("more PPI operations than the IA32 engine has thunks for");
  }
  thunk_list_.push_back(t);
  return thunks_ + static_cast<std::uint32_t>(thunk_list_.size() - 1);
}

void PeiBridge::misuse(const std::string& what) const {
  env_.misuse(what);
  std::abort();  // a core's misuse ends the run; the compiler cannot see that through the call
}

void PeiBridge::read(std::uint32_t address, void* bytes, std::size_t n, const char* what) const {
  if (!memory_.contains(address, n) || uc_mem_read(uc_, address, bytes, n) != UC_ERR_OK) {
    misuse(std::string(what) + " at " + hex(address) + " is not RAM");
  }
}

void PeiBridge::write(std::uint32_t address, const void* bytes, std::size_t n, const char* what) {
  if (!memory_.contains(address, n) || uc_mem_write(uc_, address, bytes, n) != UC_ERR_OK) {
    misuse(std::string(what) + " at " + hex(address) + " is not RAM");
  }
}

std::uint32_t PeiBridge::read32(std::uint32_t address) const {
  std::uint32_t v = 0;
  read(address, &v, 4, "an argument");
  return v;
}

std::uint32_t PeiBridge::arg(unsigned n) const {
  std::uint32_t esp = 0;
  uc_reg_read(uc_, UC_X86_REG_ESP, &esp);
  return read32(esp + 4 + 4 * n);  // [esp] holds the return address
}

const EFI_PEI_SERVICES** PeiBridge::host_services(std::uint32_t guest) const {
  return guest == table_pointer_ ? env_.services()
                                 : reinterpret_cast<const EFI_PEI_SERVICES**>(std::uintptr_t{guest});
}

void* PeiBridge::host_ppi(std::uint32_t guest) const {
  auto it = guest_ppis_.find(guest);
  return it != guest_ppis_.end() ? it->second : reinterpret_cast<void*>(std::uintptr_t{guest});
}

const PeiBridge::Mirror& PeiBridge::mirror(const EFI_GUID& guid, void* host) {
  if (auto it = mirrors_.find(host); it != mirrors_.end()) {
    return it->second;
  }
  std::vector<Kind> operations;
  if (std::memcmp(&guid, &gPeiSpeakerInterfacePpiGuid, sizeof guid) == 0) {
    operations = {Kind::SetFrequency, Kind::Beep};
  } else if (std::memcmp(&guid, &gEfiPeiDeviceRecoveryModulePpiGuid, sizeof guid) == 0) {
    operations = {Kind::GetNumber, Kind::GetInfo, Kind::Load};
  } else {
    misuse("LocatePpi found a PPI whose IA32 layout the engine does not know");
  }
  Mirror m;
  m.descriptor = carve(12 + 16 + 4 * static_cast<std::uint32_t>(operations.size()));
  const std::uint32_t guid_at = m.descriptor + 12;
  m.ppi = guid_at + 16;
  std::uint32_t descriptor[3] = {kPpiDescriptorFlags, guid_at, m.ppi};
  std::memcpy(heap_ + (m.descriptor - heap_base_), descriptor, sizeof descriptor);
  std::memcpy(heap_ + (guid_at - heap_base_), &guid, 16);
  for (std::size_t i = 0; i < operations.size(); i++) {
    std::uint32_t thunk = add_thunk(Thunk{operations[i], 0, host});
    std::memcpy(heap_ + (m.ppi - heap_base_) + 4 * i, &thunk, 4);
  }
  guest_ppis_[m.ppi] = host;
  return mirrors_.emplace(host, m).first->second;
}

void PeiBridge::serve(std::uint32_t address) {
  const Thunk& t = thunk_list_.at(address - thunks_);
  const EFI_PEI_SERVICES** services = host_services(arg(0));
  auto** as_services = const_cast<EFI_PEI_SERVICES**>(services);
  EFI_STATUS status = EFI_SUCCESS;
  switch (t.kind) {
    case Kind::Service:
      status = service(t.slot);
      break;
    case Kind::SetFrequency:
      status = static_cast<PEI_SPEAKER_IF_PPI*>(t.host_ppi)
                   ->SetFrequency(as_services, static_cast<UINT16>(arg(1)));
      break;
    case Kind::Beep:
      status = static_cast<PEI_SPEAKER_IF_PPI*>(t.host_ppi)->Beep(as_services, arg(1), arg(2), arg(3));
      break;
    case Kind::GetNumber: {
      auto* self = static_cast<EFI_PEI_DEVICE_RECOVERY_MODULE_PPI*>(host_ppi(arg(1)));
      std::uint32_t out = arg(2);
      UINTN number = out == 0 ? 0 : read32(out);
      status = static_cast<EFI_PEI_DEVICE_RECOVERY_MODULE_PPI*>(t.host_ppi)
                   ->GetNumberRecoveryCapsules(as_services, self, out == 0 ? nullptr : &number);
      if (out != 0) {
        std::uint32_t narrow = static_cast<std::uint32_t>(number);
        write(out, &narrow, 4, "the capsule count");
      }
      break;
    }
    case Kind::GetInfo: {
      auto* self = static_cast<EFI_PEI_DEVICE_RECOVERY_MODULE_PPI*>(host_ppi(arg(1)));
      std::uint32_t size_at = arg(3), type_at = arg(4);
      UINTN size = size_at == 0 ? 0 : read32(size_at);
      EFI_GUID type{};
      if (type_at != 0) {
        read(type_at, &type, sizeof type, "the capsule type");
      }
      status = static_cast<EFI_PEI_DEVICE_RECOVERY_MODULE_PPI*>(t.host_ppi)
                   ->GetRecoveryCapsuleInfo(as_services, self, arg(2), size_at == 0 ? nullptr : &size,
                                            type_at == 0 ? nullptr : &type);
      if (size_at != 0) {
        std::uint32_t narrow = static_cast<std::uint32_t>(size);
        write(size_at, &narrow, 4, "the capsule size");
      }
      if (type_at != 0) {
        write(type_at, &type, sizeof type, "the capsule type");
      }
      break;
    }
    case Kind::Load: {
      auto* self = static_cast<EFI_PEI_DEVICE_RECOVERY_MODULE_PPI*>(host_ppi(arg(1)));
      std::uint32_t instance = arg(2), buffer = arg(3);
      // The model writes the capsule straight into the buffer: it must be emulated RAM, which is
      // the same host memory at the same address.
      const std::uint64_t bytes =
          env_.load_size(self, instance, reinterpret_cast<void*>(std::uintptr_t{buffer}));
      if (buffer != 0 && !memory_.contains(buffer, bytes)) {
        misuse("LoadRecoveryCapsule buffer " + hex(buffer) + " is not RAM for " + std::to_string(bytes) +
               " bytes");
      }
      status =
          static_cast<EFI_PEI_DEVICE_RECOVERY_MODULE_PPI*>(t.host_ppi)
              ->LoadRecoveryCapsule(as_services, self, instance,
                                    buffer == 0 ? nullptr : reinterpret_cast<void*>(std::uintptr_t{buffer}));
      break;
    }
  }
  std::uint32_t eax = status;
  uc_reg_write(uc_, UC_X86_REG_EAX, &eax);
}

EFI_STATUS PeiBridge::service(unsigned slot) {
  switch (slot) {
    case kLocatePpi:
      return locate_ppi();
    case kAllocatePages:
      return allocate_pages();
    case kAllocatePool:
      return allocate_pool();
    default: {
      // Every other slot the host provides is a service the module has no business calling; the
      // host's own entry records the misuse and ends the run.
      auto unused = reinterpret_cast<EFI_PEI_UNUSED_SERVICE>(host_slot(*env_.services(), slot));
      return unused();
    }
  }
}

EFI_STATUS PeiBridge::locate_ppi() {
  const EFI_PEI_SERVICES** services = host_services(arg(0));
  std::uint32_t guid_at = arg(1), instance = arg(2), descriptor_at = arg(3), ppi_at = arg(4);
  EFI_GUID guid{};
  if (guid_at != 0) {
    read(guid_at, &guid, sizeof guid, "the PPI GUID");
  }
  EFI_PEI_PPI_DESCRIPTOR* descriptor = nullptr;
  VOID* ppi = nullptr;
  EFI_STATUS status =
      (*env_.services())
          ->LocatePpi(services, guid_at == 0 ? nullptr : &guid, instance,
                      descriptor_at == 0 ? nullptr : &descriptor, ppi_at == 0 ? nullptr : &ppi);
  if (status == EFI_SUCCESS && ppi_at != 0) {
    // A core may report success and still hand back no PPI (or no descriptor): the module sees
    // the null it was given.
    const Mirror* m = ppi != nullptr ? &mirror(guid, ppi) : nullptr;
    const std::uint32_t at = m != nullptr ? m->ppi : 0;
    write(ppi_at, &at, 4, "the PPI pointer");
    if (descriptor_at != 0) {
      const std::uint32_t d = m != nullptr && descriptor != nullptr ? m->descriptor : 0;
      write(descriptor_at, &d, 4, "the PPI descriptor pointer");
    }
  }
  return status;
}

void PeiBridge::adopt(std::uint64_t address, std::uint64_t asked, const char* service) {
  // As much RAM as the core handed out there: a hostile core's block may be smaller than asked,
  // and what lies past it stays unmapped, so that the image faults on reaching it.
  std::uint64_t bytes = asked;
  for (const PeiAllocation& a : env_.handed_out()) {
    if (a.address == address && a.bytes != 0) {
      bytes = a.bytes;
    }
  }
  if (!memory_.adopt(address, bytes)) {
    misuse(std::string(service) + " returned " + hex(address) + ", which the emulated PC cannot map");
  }
}

EFI_STATUS PeiBridge::allocate_pages() {
  const EFI_PEI_SERVICES** services = host_services(arg(0));
  std::uint32_t type = arg(1), pages = arg(2), memory_at = arg(3);
  EFI_PHYSICAL_ADDRESS address = 0;
  if (memory_at != 0) {
    read(memory_at, &address, sizeof address, "the AllocatePages result");
  }
  EFI_STATUS status = (*env_.services())
                          ->AllocatePages(services, static_cast<EFI_MEMORY_TYPE>(type), pages,
                                          memory_at == 0 ? nullptr : &address);
  if (status == EFI_SUCCESS) {
    adopt(address, std::uint64_t{pages} * kPageSize, "AllocatePages");
    write(memory_at, &address, sizeof address, "the AllocatePages result");
  }
  return status;
}

EFI_STATUS PeiBridge::allocate_pool() {
  const EFI_PEI_SERVICES** services = host_services(arg(0));
  std::uint32_t size = arg(1), buffer_at = arg(2);
  VOID* buffer = nullptr;
  EFI_STATUS status = (*env_.services())->AllocatePool(services, size, buffer_at == 0 ? nullptr : &buffer);
  if (status == EFI_SUCCESS) {
    std::uint64_t address = reinterpret_cast<std::uintptr_t>(buffer);
    adopt(address, size == 0 ? 1 : size, "AllocatePool");
    std::uint32_t narrow = static_cast<std::uint32_t>(address);
    write(buffer_at, &narrow, 4, "the AllocatePool result");
  }
  return status;
}

}  // namespace sim::ia32
