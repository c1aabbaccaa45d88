#pragma once

#include <nlohmann/json.hpp>

#include "model/problem.h"

namespace tarsel {

// Fills `problem` from a parsed instance document: "nodes" and "agents"
// (required), then "costs", "constraints" and "options" (optional). Only the
// JSON shape is checked; the JSON library's exceptions propagate unchanged and
// nothing added before a failing element is rolled back. The one value check:
// "seed" or "max_iterations" outside the signed 64-bit range raises
// std::invalid_argument naming the option. Unknown keys (at the
// top level and in "options"), constraint kinds and objectives are read past
// with a warning each on standard error.
void ParseProblemJson(const nlohmann::json& doc, Problem& problem);

}  // namespace tarsel
