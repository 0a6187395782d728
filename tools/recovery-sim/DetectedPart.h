// The part the module's detection chose in the last run, as "vendor", "name".
#pragma once

#include <optional>
#include <string>
#include <utility>

namespace rsim {

std::optional<std::pair<std::string, std::string>> last_detected_part();

}  // namespace rsim
