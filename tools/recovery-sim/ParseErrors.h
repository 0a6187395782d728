// The command-line parser's refusals in recovery-sim's own words: its own messages are worded for
// programmers ("1 required TEXT missing") and change between versions.
#pragma once

#include <CLI/CLI.hpp>
#include <string>

namespace rsim {

// One line for a refused command line, naming the option or argument at fault.
std::string parse_error_text(const CLI::ParseError& e);

}  // namespace rsim
