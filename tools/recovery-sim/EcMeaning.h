// What each embedded-controller command of the module asks for, from the module's own constants.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace rsim {

// "94 77: prepare for flash mode; F2: enter flash mode; ..." for the data bytes sent, in order of
// first appearance; empty when there were none.
std::string ec_command_meanings(const std::vector<std::pair<std::uint8_t, std::uint8_t>>& commands);

}  // namespace rsim
