// A PEI core as an engine outside the module serves it: the services table the module receives,
// the blocks it has handed out, how much a recovery PPI's load writes, and how a misuse ends the
// run. The healthy core (PeiEnvironment) and the hostile one (HostilePei) are both served this way.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "pi/PeiServices.h"

namespace sim {

// One successful allocation.
struct PeiAllocation {
  bool pages = false;             // AllocatePages, else AllocatePool
  std::uint32_t memory_type = 0;  // AllocatePages only
  std::uint64_t bytes = 0;
  std::uint64_t address = 0;
};

class PeiCore {
 public:
  virtual ~PeiCore() = default;
  // What the module receives as its PeiServices argument (a pointer to the table pointer).
  virtual const EFI_PEI_SERVICES** services() = 0;
  // Blocks handed out so far: an engine with RAM of its own makes them reachable.
  virtual std::vector<PeiAllocation> handed_out() const = 0;
  // The most bytes LoadRecoveryCapsule of the PPI at `ppi` writes at `buffer` for `instance`:
  // an engine checks that they are its RAM before the core writes them.
  virtual std::uint64_t load_size(const void* ppi, std::uint64_t instance, const void* buffer) = 0;
  // Records a call the module should not have made and ends the current run as a hang naming it.
  [[noreturn]] virtual void misuse(const std::string& what) = 0;
};

}  // namespace sim
