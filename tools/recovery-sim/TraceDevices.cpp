// Naming the device of a traced access from the platform's own decoding.
#include "tools/recovery-sim/TraceDevices.h"

#include <stdexcept>

namespace rsim {

namespace {
constexpr const char* kUnclaimed = "unclaimed";
constexpr const char* kOther = "other";  // a device this table does not know (a test's decorator)
}  // namespace

TraceDevices::TraceDevices(sim::Machine& m) : platform_(m.platform()) {
  add("cmos", &m.cmos(), nullptr);
  add("post", &m.post(), nullptr);
  add("ec", &m.ec(), nullptr);
  add("acpi-pm", &m.pm(), nullptr);
  add("pci", &m.pci(), &m.pci());
  add("chipset", nullptr, &m.chipset());
}

void TraceDevices::add(const char* name, const sim::IoHandler* io, const sim::MemHandler* mem) {
  devices_.push_back(Named{name, io, mem});
}

const char* TraceDevices::name(const sim::Access& a) const {
  const sim::IoHandler* io = nullptr;
  const sim::MemHandler* mem = nullptr;
  if (a.space == sim::Space::Io) {
    io = platform_.io_device(static_cast<std::uint16_t>(a.address));
    if (io == nullptr) return kUnclaimed;
  } else {
    mem = platform_.mem_device(a.address);
    if (mem == nullptr) return kUnclaimed;
  }
  for (const Named& d : devices_) {
    if ((io != nullptr && d.io == io) || (mem != nullptr && d.mem == mem)) return d.name;
  }
  return kOther;
}

const std::vector<std::string>& TraceDevices::names() {
  static const std::vector<std::string> all = {"cmos",    "post", "ec",    "acpi-pm",  "pci",
                                               "chipset", "spi",  "flash", kUnclaimed, kOther};
  return all;
}

std::vector<std::string> parse_trace_devices(const std::string& list) {
  std::vector<std::string> chosen;
  std::size_t start = 0;
  while (start <= list.size()) {
    std::size_t comma = list.find(',', start);
    std::string name = list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    bool known = false;
    for (const auto& n : TraceDevices::names()) known = known || n == name;
    if (!known) {
      std::string valid;
      for (const auto& n : TraceDevices::names()) valid += (valid.empty() ? "" : ", ") + n;
      throw std::invalid_argument("--trace-devices: no device is called '" + name + "' (devices: " + valid +
                                  ")");
    }
    chosen.push_back(name);
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return chosen;
}

}  // namespace rsim
