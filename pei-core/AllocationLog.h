// Puts logging wrappers into the PEI services table's AllocatePages and AllocatePool slots, so that
// the log shows every allocation made through the table after the harness ran, in call order.
#pragma once

#include "pei-core/PiInterfaces.h"

namespace harness {

void log_allocations(Services services);

}  // namespace harness
