// The tables of options that exclude each other, and the check over them.
#include "tools/recovery-sim/OptionRules.h"

#include <stdexcept>
#include <vector>

#include "sim/devices/PartVariants.h"

namespace rsim {

namespace {

// Commands that print something other than a rehearsal, and the options each still takes.
struct Command {
  const char* name;
  std::vector<std::string> takes;
};
const Command kCommands[] = {
    {"--list-parts",    {}                                                           },
    {"--compatibility", {"--report", "--html", "--engine", "--image", "--image-base"}},
    {"--estimate-all",  {"--html", "--engine", "--image", "--image-base"}            },
};

// Options that mean something only on one bus, or only with a flash descriptor.
enum class Needs { SpiPart, LpcPart, Descriptor };
struct Scope {
  const char* option;
  Needs needs;
};
const Scope kScopes[] = {
    {"--decode",     Needs::LpcPart   },
    {"--descriptor", Needs::SpiPart   },
    {"--components", Needs::SpiPart   },
    {"--flmstr1",    Needs::SpiPart   },
    {"--bfpr",       Needs::SpiPart   },
    {"--components", Needs::Descriptor},
    {"--flmstr1",    Needs::Descriptor},
    {"--bfpr",       Needs::Descriptor},
};

std::string join(const std::vector<std::string>& names) {
  std::string s;
  for (const auto& n : names) s += (s.empty() ? "" : ", ") + n;
  return s;
}

void check_commands(const GivenOptions& given) {
  for (const auto& command : kCommands) {
    if (!given.has(command.name)) {
      continue;
    }
    for (const auto& [option, value] : given.values) {
      bool taken = option == command.name;
      for (const auto& t : command.takes) {
        taken = taken || option == t;
      }
      if (!taken) {
        throw std::invalid_argument(
            std::string(command.name) + " cannot be combined with " + option + ": " + command.name +
            " is a command of its own" +
            (command.takes.empty() ? "" : " (it takes only " + join(command.takes) + ")"));
      }
    }
  }
}

// A variant the part does not have: name the part as the user does, and what it has.
void check_variant(const GivenOptions& given, const std::optional<PartEntry>& part) {
  auto variant = given.values.find("--variant");
  if (!part || variant == given.values.end()) return;
  std::string known;
  for (const sim::PartVariant* v : sim::variants_of(part->name)) {
    if (v->name == variant->second) return;
    known += (known.empty() ? "" : ", ") + std::string(v->name);
  }
  throw std::invalid_argument(part->label() + " has no variant '" + variant->second + "'; " +
                              (known.empty() ? "it has no variants" : "its variants: " + known) +
                              " (--list-parts lists them)");
}

}  // namespace

void check_option_rules(const GivenOptions& given, const std::optional<PartEntry>& part) {
  check_commands(given);
  check_variant(given, part);
  auto descriptor = given.values.find("--descriptor");
  const bool no_descriptor = descriptor != given.values.end() && descriptor->second == "none";
  for (const auto& scope : kScopes) {
    if (!given.has(scope.option)) {
      continue;
    }
    const std::string option = scope.option;
    if (scope.needs == Needs::Descriptor && no_descriptor) {
      throw std::invalid_argument(option + " describes the flash descriptor, and --descriptor none has none");
    }
    if (part && scope.needs != Needs::Descriptor &&
        (part->bus == Bus::Spi) != (scope.needs == Needs::SpiPart)) {
      const bool spi = scope.needs == Needs::SpiPart;
      throw std::invalid_argument(option + " applies to " + (spi ? "SPI" : "LPC") + " parts only; " +
                                  part->label() + " is an " + (spi ? "LPC" : "SPI") + " part");
    }
  }
}

}  // namespace rsim
