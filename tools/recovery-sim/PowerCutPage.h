// The page of a power-cut survey (--power-cut-survey or --merge with --html): every cut on a strip
// along the recovery's time, in a lane by its result (recovered on the next run, inside the brick
// window, did not recover) with a shape and a colour of its own, the brick window drawn across the
// lanes, the same strip again around the brick window, and the table of every cut.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

namespace rsim {

// From the survey's JSON (power_cut_survey or merge_power_cut_surveys).
std::string power_cut_page(const nlohmann::json& survey);

}  // namespace rsim
