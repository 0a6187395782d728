// What the PEI core and the platform would offer the module: the PEI services table (LocatePpi,
// AllocatePages, AllocatePool), a device recovery module PPI serving the capsule, and a speaker PPI.
// Laid out from the documented IA32 offsets, independently of the module's own headers; every call
// is logged, and arguments that break the ABI are reported as errors.
#pragma once

#include <stdint.h>

namespace harness {

// Builds the table and the PPIs around the capsule; returns the value to pass to the module as its
// PeiServices argument (the address of the pointer to the table).
const void* pei_environment_init(const uint8_t* capsule, uint32_t capsule_size);

}  // namespace harness
