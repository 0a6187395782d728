// Which command-line options go together. A rule names options, not their parsing, so options
// added later fall under the command rules without change and join the bus rules by one table row.
#pragma once

#include <map>
#include <optional>
#include <string>

#include "tools/recovery-sim/PartCatalog.h"

namespace rsim {

// The options given on the command line ("--part"), each with its last value ("" for flags).
struct GivenOptions {
  std::map<std::string, std::string> values;
  bool has(const std::string& name) const { return values.count(name) != 0; }
};

// Throws std::invalid_argument with one line for options that cannot go together: a command that
// replaces the rehearsal (--list-parts, --compatibility, --estimate-all) with another one or with
// options it does not take; an option the chosen part's bus does not have (--decode on SPI,
// descriptor settings on LPC); descriptor fields with --descriptor none; a --variant the part does
// not have. `part` is the part the
// run would use, when it is known.
void check_option_rules(const GivenOptions& given, const std::optional<PartEntry>& part);

}  // namespace rsim
