// The record of one call the module made into the simulated PEI environment: a PEI service or
// an operation of one of the installed PPIs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "pi/PiBase.h"

namespace sim {

struct PeiCall {
  std::string name;                 // "LocatePpi", "AllocatePages", "GetRecoveryCapsuleInfo", "Beep", ...
  int ppi = -1;                     // recovery PPI operations: install order of the model; else -1
  EFI_GUID guid{};                  // LocatePpi: the GUID asked for
  std::vector<std::uint64_t> args;  // the arguments after PeiServices (and This), pointers as addresses
  EFI_STATUS status = EFI_SUCCESS;
  std::uint64_t result = 0;  // address handed back (LocatePpi, AllocatePages, AllocatePool), else 0
};

}  // namespace sim
