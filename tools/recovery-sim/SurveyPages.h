// The pages of the part surveys: the compatibility matrix as a table whose every cell says its
// result in words as well as colour, and each row's recovery time on hardware as a bar against the
// part's own busy time. Built from the surveys' JSON, so a page shows what the report holds.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

#include "tools/recovery-sim/Options.h"

namespace rsim {

// --compatibility --html: the matrix (compatibility_matrix) and, from the runs with protection
// cleared, the bar chart. `engine` names the engine and image the rows ran on.
std::string compatibility_page(const nlohmann::json& matrix, const Options& engine);

// --estimate-all --html: the bar chart of duration_estimates.
std::string estimates_page(const nlohmann::json& estimates, const Options& engine);

}  // namespace rsim
