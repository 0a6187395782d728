// Command-line parse errors to one user-facing line.
#include "tools/recovery-sim/ParseErrors.h"

namespace rsim {

namespace {

// The text after the parser's "...: " lead-in, which names what it refused.
std::string after_colon(const std::string& what) {
  const std::size_t colon = what.find(": ");
  return colon == std::string::npos ? what : what.substr(colon + 2);
}

}  // namespace

std::string parse_error_text(const CLI::ParseError& e) {
  const std::string what = e.what();
  const std::string help = " (--help lists the options)";
  if (dynamic_cast<const CLI::ExtrasError*>(&e) != nullptr) {
    return "no such option or argument: " + after_colon(what) + help;
  }
  if (dynamic_cast<const CLI::ArgumentMismatch*>(&e) != nullptr) {
    // "--part: 1 required TEXT missing" and the like: the option comes first.
    const std::string option = what.substr(0, what.find(':'));
    return option + " needs a value" + help;
  }
  if (dynamic_cast<const CLI::ConversionError*>(&e) != nullptr) {
    // "Could not convert: --components = x".
    const std::string given = after_colon(what);
    const std::size_t eq = given.find(" = ");
    if (eq != std::string::npos) {
      return given.substr(0, eq) + " takes a small whole number, not '" + given.substr(eq + 3) + "'" + help;
    }
    return "an option's value is not a number" + help;
  }
  return "the options cannot be read as given" + help;
}

}  // namespace rsim
