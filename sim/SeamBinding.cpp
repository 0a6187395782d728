// The seam on the simulated platform: every access the module makes is forwarded to the platform
// that is running it. An access outside a run is a programming error of the test or tool.
#include <cstdio>
#include <cstdlib>

#include "platform/HwAccess.h"
#include "sim/Platform.h"

namespace {
[[noreturn, gnu::noinline, gnu::cold]] void outside_a_run() {
  std::fprintf(stderr, "hardware access outside a simulated run\n");
  std::abort();
}
inline sim::Platform& platform() {
  sim::Platform* p = sim::Platform::current();
  if (p == nullptr) [[unlikely]] {
    outside_a_run();
  }
  return *p;
}
}  // namespace

extern "C" {

UINT8 IoRead8(UINT16 Port) { return static_cast<UINT8>(platform().io_read(Port, sim::Width::Byte)); }
UINT16 IoRead16(UINT16 Port) { return static_cast<UINT16>(platform().io_read(Port, sim::Width::Word)); }
UINT32 IoRead32(UINT16 Port) { return platform().io_read(Port, sim::Width::Dword); }
void IoWrite8(UINT16 Port, UINT8 Value) { platform().io_write(Port, sim::Width::Byte, Value); }
void IoWrite16(UINT16 Port, UINT16 Value) { platform().io_write(Port, sim::Width::Word, Value); }
void IoWrite32(UINT16 Port, UINT32 Value) { platform().io_write(Port, sim::Width::Dword, Value); }

UINT8 MmioRead8(UINT32 Address) { return static_cast<UINT8>(platform().mem_read(Address, sim::Width::Byte)); }
UINT16 MmioRead16(UINT32 Address) {
  return static_cast<UINT16>(platform().mem_read(Address, sim::Width::Word));
}
UINT32 MmioRead32(UINT32 Address) { return platform().mem_read(Address, sim::Width::Dword); }
void MmioWrite8(UINT32 Address, UINT8 Value) { platform().mem_write(Address, sim::Width::Byte, Value); }
void MmioWrite16(UINT32 Address, UINT16 Value) { platform().mem_write(Address, sim::Width::Word, Value); }
void MmioWrite32(UINT32 Address, UINT32 Value) { platform().mem_write(Address, sim::Width::Dword, Value); }

void CpuPause(void) { platform().cpu_pause(); }

}  // extern "C"
