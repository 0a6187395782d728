// The speaker and device recovery PPIs the harness offers the module: each call logs one line with
// its arguments, so that the test reads the module's calls and beeps in order.
#pragma once

#include "pei-core/PiInterfaces.h"
#include "pei-core/Scenario.h"

namespace harness {

extern const SpeakerPpi kLoggingSpeaker;
// The recovery PPI's answers follow the scenario set here before the PPI is installed.
extern RecoveryPpi logging_recovery_ppi;
void set_recovery_scenario(Scenario scenario);

}  // namespace harness
