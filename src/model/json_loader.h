#pragma once

#include <nlohmann/json.hpp>
#include <string>

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
//
// When the JSON library refuses a value and `refusal` is given, it receives
// where, said for a person, before the exception goes on: "the document has
// no key 'agents'", "agents[0] (agent 7) has no key 'end_node'",
// "nodes[3] must be an object, but is number", "nodes[1] (node 20), key
// \"x\": type must be number, but is boolean", "constraints[0]
// (\"assignment\"), item 1, key \"types\": ...", "\"options\" must be an
// object, but is array". The exception itself is the library's, unchanged.
void ParseProblemJson(const nlohmann::json& doc, Problem& problem, std::string* refusal = nullptr);

}  // namespace tarsel
