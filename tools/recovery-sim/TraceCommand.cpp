#include "tools/recovery-sim/TraceCommand.h"

#include <cstdio>

#include "tools/recovery-sim/Report.h"

namespace rsim {

std::string shell_word(const std::string& text) {
  bool bare = !text.empty();
  for (char c : text) {
    bool safe = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                std::string_view("@%+=:,./_-").find(c) != std::string_view::npos;
    bare = bare && safe;
  }
  if (bare) return text;
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

std::string trace_command(const Options& o, const std::string& from) {
  const Options defaults;
  std::string cmd = "recovery-sim";
  auto add = [&](const char* option, const std::string& value) {
    cmd += std::string(" ") + option + " " + shell_word(value);
  };
  if (o.capsule_file) add("--capsule", *o.capsule_file);
  if (o.part != defaults.part) add("--part", o.part);
  if (!o.variant.empty()) add("--variant", o.variant);
  if (o.boot) add("--boot", *o.boot);
  if (!o.descriptor) add("--descriptor", "none");
  if (o.components != defaults.components) add("--components", std::to_string(o.components));
  if (o.flmstr1) add("--flmstr1", hex(*o.flmstr1));
  if (o.bfpr) add("--bfpr", hex(*o.bfpr));
  if (o.cmos_6e != defaults.cmos_6e) add("--cmos-6e", hex(o.cmos_6e, 2));
  if (o.flash_in) add("--flash-in", *o.flash_in);
  if (o.initial_protection != defaults.initial_protection) add("--initial-protection", o.initial_protection);
  if (o.decode != defaults.decode) add("--decode", o.decode);
  for (const Fault& f : o.faults) add("--fault", fault_name(f));
  if (o.seed != defaults.seed) add("--seed", std::to_string(o.seed));
  if (o.engine != defaults.engine) add("--engine", o.engine);
  if (o.image) add("--image", *o.image);
  if (o.image_base) add("--image-base", hex(*o.image_base));
  add("--trace", "trace.txt");
  add("--trace-from", from);
  // The run's own focus, when it had one.
  std::string devices;
  for (const auto& d : o.trace_devices) devices += (devices.empty() ? "" : ",") + d;
  if (!devices.empty()) add("--trace-devices", devices);
  if (o.trace_every_access) cmd += " --trace-every-access";
  return cmd;
}

}  // namespace rsim
