// Engine selection: the host build calls RecoveryEntry directly; the IA32 engine loads the image
// file once and runs it from load for every rehearsal.
#include "tools/recovery-sim/Engine.h"

#include <unistd.h>

#include <stdexcept>

#include "recovery/RecoveryEntry.h"
#include "sim/ia32/Ia32Engine.h"
#include "sim/ia32/ImageFile.h"
#include "tools/recovery-sim/DetectedPart.h"
#include "tools/recovery-sim/Files.h"
#include "tools/recovery-sim/Sha256.h"

namespace rsim {

namespace {

class HostEngine : public Engine {
 public:
  std::string name() const override { return "host"; }
  sim::Outcome run(sim::Machine& machine, sim::PeiEnvironment& pei) override {
    return machine.run([&] { return RecoveryEntry(nullptr, pei.services()); });
  }
  std::optional<std::pair<std::string, std::string>> detected() const override {
    return last_detected_part();
  }
};

class ImageEngine : public Engine {
 public:
  ImageEngine(sim::ia32::ImageFile file, std::uint32_t base)
      : identity_{file.path, sha256_hex(file.bytes)}, pe32_(file.pe32), engine_(pe32_, base) {}
  std::string name() const override { return "ia32"; }
  std::optional<ImageIdentity> image() const override { return identity_; }
  sim::Outcome run(sim::Machine& machine, sim::PeiEnvironment& pei) override {
    return engine_.run(machine.platform(), pei);
  }
  // The engine watches the image's Probe calls: the row whose Probe succeeded last.
  std::optional<std::pair<std::string, std::string>> detected() const override { return engine_.detected(); }

 private:
  ImageIdentity identity_;
  sim::ia32::Pe32Image pe32_;
  sim::ia32::Ia32Engine engine_;
};

}  // namespace

std::unique_ptr<Engine> make_engine(const Options& options) {
  if (options.engine == "host") {
    if (options.image || options.image_base) {
      throw std::invalid_argument("--image and --image-base need --engine ia32");
    }
    return std::make_unique<HostEngine>();
  }
  if (options.engine != "ia32") {
    throw std::invalid_argument("--engine takes host or ia32, not '" + options.engine + "'");
  }
  const std::string path = options.image.value_or(RECOVERY_IA32_IMAGE);
  // A file the user names that cannot be read is refused with the reason (no such file, ...).
  if (options.image) read_input("--image", path);
  try {
    sim::ia32::ImageFile file = sim::ia32::read_image_file(path);
    return std::make_unique<ImageEngine>(std::move(file),
                                         options.image_base.value_or(sim::ia32::Ia32Engine::kDefaultBase));
  } catch (const sim::ia32::ImageError& e) {
    if (!options.image && access(path.c_str(), F_OK) != 0) {
      throw std::invalid_argument(
          "no IA32 image at " + path +
          ": build it with `cmake --preset ia32 && cmake --build --preset ia32`, or give --image");
    }
    throw std::invalid_argument(e.what());
  }
}

}  // namespace rsim
