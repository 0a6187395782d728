// The PEI services table and the PPIs as an IA32 module sees them: 32-bit tables in emulated RAM
// whose function pointers aim at thunks; a thunk reads the cdecl arguments from the emulated stack
// and calls the same simulated service or PPI model the host build calls.
#pragma once

#include <unicorn/unicorn.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "pi/PeiServices.h"
#include "sim/ia32/GuestMemory.h"
#include "sim/pei/PeiCore.h"

namespace sim::ia32 {

class PeiBridge {
 public:
  // Lays out the IA32 services table in fresh emulated RAM, serving the calls from `core`.
  PeiBridge(uc_engine* uc, GuestMemory& memory, PeiCore& core);

  // The module's PeiServices argument: the address of the pointer to the table.
  std::uint32_t services_argument() const { return table_pointer_; }
  // Every thunk lies in [first, end); each is a `ret`, reached by a call through a table pointer.
  std::uint32_t thunks_begin() const { return thunks_; }
  std::uint32_t thunks_end() const { return thunks_ + kMaxThunks; }

  // Called when the emulated CPU is about to execute the thunk at `address`: serves the call and
  // leaves its status in EAX. The models may end the run (RunEnded propagates to the caller).
  void serve(std::uint32_t address);

 private:
  static constexpr std::uint32_t kMaxThunks = 256;
  static constexpr unsigned kServiceSlots = 28;

  enum class Kind { Service, SetFrequency, Beep, GetNumber, GetInfo, Load };
  struct Thunk {
    Kind kind;
    unsigned slot;   // Service: the table slot
    void* host_ppi;  // PPI operations: the host PPI the mirror stands for
  };
  struct Mirror {
    std::uint32_t descriptor;  // EFI_PEI_PPI_DESCRIPTOR in IA32 layout, followed by GUID and PPI
    std::uint32_t ppi;
  };

  std::uint32_t arg(unsigned n) const;  // the nth 32-bit cdecl argument (0: PeiServices)
  std::uint32_t read32(std::uint32_t address) const;
  void write(std::uint32_t address, const void* bytes, std::size_t n, const char* what);
  void read(std::uint32_t address, void* bytes, std::size_t n, const char* what) const;
  std::uint32_t add_thunk(Thunk t);
  std::uint32_t carve(std::uint32_t bytes);
  // Host pointers the models compare against; a foreign guest value stays foreign.
  const EFI_PEI_SERVICES** host_services(std::uint32_t guest) const;
  void* host_ppi(std::uint32_t guest) const;
  // The IA32 copy of a PPI the host database returned, made on first use.
  const Mirror& mirror(const EFI_GUID& guid, void* host_ppi);
  [[noreturn]] void misuse(const std::string& what) const;

  EFI_STATUS service(unsigned slot);
  EFI_STATUS locate_ppi();
  EFI_STATUS allocate_pages();
  EFI_STATUS allocate_pool();
  // Makes the block `service` just returned at `address` (`asked` bytes asked for) emulated RAM.
  void adopt(std::uint64_t address, std::uint64_t asked, const char* service);

  uc_engine* uc_;
  GuestMemory& memory_;
  PeiCore& env_;
  std::uint8_t* heap_;  // table, descriptors, GUIDs and PPIs
  std::uint32_t heap_base_ = 0, heap_used_ = 0, heap_size_ = 0;
  std::uint32_t table_pointer_ = 0;
  std::uint32_t thunks_ = 0;
  std::vector<Thunk> thunk_list_;
  std::map<void*, Mirror> mirrors_;
  std::map<std::uint32_t, void*> guest_ppis_;
};

}  // namespace sim::ia32
