// The wrappers forward to the PEI core's own services and log the request, result and status. The
// table lives in the core's writable data once permanent memory is in use (the harness's depex).
#include "pei-core/AllocationLog.h"

#include "pei-core/DebugLog.h"

namespace harness {
namespace {

typedef Status (*AllocatePagesFn)(Services, uint32_t type, uint32_t pages, uint64_t* memory);
typedef Status (*AllocatePoolFn)(Services, uint32_t size, void** buffer);

AllocatePagesFn core_allocate_pages;
AllocatePoolFn core_allocate_pool;

Status allocate_pages(Services services, uint32_t type, uint32_t pages, uint64_t* memory) {
  const Status status = core_allocate_pages(services, type, pages, memory);
  LogLine line("services: allocate-pages type ");
  line << type << " pages " << pages << " -> ";
  line.hex(status == kSuccess ? static_cast<uint32_t>(*memory) : 0) << " status ";
  line.hex(status);
  return status;
}

Status allocate_pool(Services services, uint32_t size, void** buffer) {
  const Status status = core_allocate_pool(services, size, buffer);
  LogLine line("services: allocate-pool size ");
  line << size << " -> ";
  line.hex(status == kSuccess ? static_cast<uint32_t>(reinterpret_cast<uintptr_t>(*buffer)) : 0)
      << " status ";
  line.hex(status);
  return status;
}

}  // namespace

void log_allocations(Services services) {
  uint32_t* table = const_cast<uint32_t*>(*services);
  core_allocate_pages =
      reinterpret_cast<AllocatePagesFn>(table[static_cast<uint32_t>(Service::AllocatePages)]);
  core_allocate_pool = reinterpret_cast<AllocatePoolFn>(table[static_cast<uint32_t>(Service::AllocatePool)]);
  table[static_cast<uint32_t>(Service::AllocatePages)] = reinterpret_cast<uint32_t>(&allocate_pages);
  table[static_cast<uint32_t>(Service::AllocatePool)] = reinterpret_cast<uint32_t>(&allocate_pool);
}

}  // namespace harness
