// The engine a rehearsal runs the module on: the host build linked into this tool, or the shipped
// IA32 image executed by the CPU emulator on the same simulated platform.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "sim/Machine.h"
#include "sim/pei/PeiEnvironment.h"
#include "tools/recovery-sim/Options.h"

namespace rsim {

struct ImageIdentity {
  std::string path;
  std::string sha256;  // of the whole file given (the .efi or the firmware file)
};

class Engine {
 public:
  virtual ~Engine() = default;
  virtual std::string name() const = 0;
  virtual std::optional<ImageIdentity> image() const { return std::nullopt; }
  // Runs the module's entry point from its just-loaded state on `machine`.
  virtual sim::Outcome run(sim::Machine& machine, sim::PeiEnvironment& pei) = 0;
  // The part (vendor, name) the module's last detection chose in the run; none when it chose none.
  virtual std::optional<std::pair<std::string, std::string>> detected() const = 0;
};

// The engine `options` ask for. Throws std::invalid_argument (one line) for an unknown engine, a
// missing or unusable image, or a base the image cannot be loaded at.
std::unique_ptr<Engine> make_engine(const Options& options);

}  // namespace rsim
