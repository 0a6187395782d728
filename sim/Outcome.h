// How a run of the module's code on the simulated platform ended.
#pragma once

#include <cstdint>
#include <string>

#include "pi/PiBase.h"

namespace sim {

enum class OutcomeKind { Returned, FinalSpin, Hang, PowerCut };

struct Outcome {
  OutcomeKind kind = OutcomeKind::Returned;
  EFI_STATUS status = EFI_SUCCESS;  // meaningful for Returned
  std::string where;                // Hang: the access the module was repeating; PowerCut: the access number
  std::uint64_t access = 0;         // PowerCut: the access after which power was lost
  // Hang: why it was declared (the same accesses repeated, or a budget passed) and how long after
  // the start of the run, in simulated nanoseconds.
  std::string why;
  std::uint64_t declared_after = 0;

  // "returned(0x80000003)", "final-spin", "hang(io read 8 0xFF2F = 0xFF)", "power-cut(access 1234)".
  std::string to_string() const;
  // "returned", "final-spin", "hang", "power-cut".
  std::string kind_name() const;
};

// Why a hang is declared when an engine running the image stops at a CPU exception.
inline constexpr const char* kCpuExceptionHang = "a CPU exception";

// Thrown from inside a seam call to leave the module's code; caught by Platform::run.
struct RunEnded {
  Outcome outcome;
};

}  // namespace sim
