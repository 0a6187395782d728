// The simulated device behind each traced access, by the short name a trace line prints and
// --trace-devices takes: the device that decodes the port or address, so a moved base register
// (RCBA, the ACPI PM base) moves the name with it.
#pragma once

#include <string>
#include <vector>

#include "sim/Machine.h"

namespace rsim {

class TraceDevices {
 public:
  // The machine's own devices; the flash rig adds its own with add().
  explicit TraceDevices(sim::Machine& machine);
  void add(const char* name, const sim::IoHandler* io, const sim::MemHandler* mem);
  // "ec", "acpi-pm", "flash"...; "unclaimed" when nothing decodes the access.
  const char* name(const sim::Access& a) const;
  // Every name a trace can print, in the order --trace-devices lists them.
  static const std::vector<std::string>& names();

 private:
  struct Named {
    const char* name;
    const sim::IoHandler* io;
    const sim::MemHandler* mem;
  };
  const sim::Platform& platform_;
  std::vector<Named> devices_;
};

// A --trace-devices list ("spi,flash"): throws std::invalid_argument, one line that lists the valid
// names, for a name no device has.
std::vector<std::string> parse_trace_devices(const std::string& list);

}  // namespace rsim
