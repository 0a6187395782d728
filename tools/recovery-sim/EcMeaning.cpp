// Embedded-controller command names, keyed by the module's constants so that the two cannot drift.
#include "tools/recovery-sim/EcMeaning.h"

#include <cstdio>

#include "platform/EmbeddedController.h"

namespace rsim {

namespace {

struct Meaning {
  std::uint8_t data;
  const char* text;
};

const Meaning kMeanings[] = {
    {EC_DATA_PREPARE1,      "prepare (1 of 2)"},
    {EC_DATA_PREPARE2,      "prepare (2 of 2)"},
    {EC_DATA_ENTER_FLASH,   "enter flash mode"},
    {EC_DATA_LEAVE_PREPARE, "prepare to leave"},
    {EC_DATA_LEAVE_FLASH,   "leave flash mode"},
    {EC_DATA_FINAL,         "update complete" },
};

}  // namespace

std::string ec_command_meaning(std::uint8_t command, std::uint8_t data) {
  if (command != EC_COMMAND) return "";
  for (const auto& m : kMeanings) {
    if (m.data == data) return m.text;
  }
  return "";
}

std::string ec_command_meanings(const std::vector<std::pair<std::uint8_t, std::uint8_t>>& commands) {
  std::string s;
  std::vector<std::uint8_t> named;
  for (const auto& [command, data] : commands) {
    bool seen = false;
    for (std::uint8_t d : named) seen = seen || d == data;
    const std::string meaning = ec_command_meaning(command, data);
    if (seen || meaning.empty()) continue;
    named.push_back(data);
    char buf[8];
    std::snprintf(buf, sizeof buf, "%02X", data);
    s += (s.empty() ? "" : ", ") + std::string(buf) + " " + meaning;
  }
  return s;
}

}  // namespace rsim
