// What each embedded-controller command of the module asks for, from the module's own constants.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace rsim {

// "enter flash mode" for one command and its data byte; empty for one the module does not send.
std::string ec_command_meaning(std::uint8_t command, std::uint8_t data);

// "94 77: prepare for flash mode; F2: enter flash mode; ..." for the data bytes sent, in order of
// first appearance; empty when there were none.
std::string ec_command_meanings(const std::vector<std::pair<std::uint8_t, std::uint8_t>>& commands);

}  // namespace rsim
