#include "model/json_loader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>

#include "common/console_capture.h"

namespace tarsel {
namespace {

using nlohmann::json;

// A document with one depot, one target and one agent; tests edit a copy.
json MinimalDoc() {
  return json::parse(R"({
    "nodes": [
      {"id": 0, "x": 0, "y": 1.5, "z": -2, "type": "DEPOT"},
      {"id": 1, "x": 3, "y": 4, "z": 0, "demand": 2.5}
    ],
    "agents": [
      {"id": 9, "type": "truck", "start_node": 0, "end_node": 0}
    ]
  })");
}

Problem Load(const json& doc) {
  Problem problem;
  ParseProblemJson(doc, problem);
  return problem;
}

// what() of the JSON exception raised while loading `doc`.
std::string LoadError(const json& doc) {
  Problem problem;
  try {
    ParseProblemJson(doc, problem);
  } catch (const json::exception& e) {
    return e.what();
  }
  return "no exception";
}

TEST(JsonLoaderTest, MinimalDocument) {
  Problem problem;
  problem.options.objective = ObjectiveType::MinMax;
  problem.options.time_limit = 5;
  problem.assignment_constraint.set_assignment(1, {"x"});
  ParseProblemJson(MinimalDoc(), problem);

  ASSERT_EQ(problem.nodes.size(), 2u);
  EXPECT_EQ(problem.num_nodes, 2u);
  EXPECT_EQ(problem.nodes[0].type, NodeType::DEPOT);
  EXPECT_EQ(problem.nodes[0].position.y, 1.5);
  EXPECT_EQ(problem.nodes[0].position.z, -2.0);
  EXPECT_EQ(problem.nodes[0].demand, 0.0);
  EXPECT_EQ(problem.nodes[1].id, 1u);
  EXPECT_EQ(problem.nodes[1].type, NodeType::TARGET);
  EXPECT_EQ(problem.nodes[1].demand, 2.5);

  ASSERT_EQ(problem.agents_ordered.size(), 1u);
  const Agent& agent = problem.agents_by_id.at(9);
  EXPECT_EQ(agent.type, "truck");
  EXPECT_EQ(agent.capacity_limit, 0.0);
  EXPECT_EQ(agent.time_limit, 0.0);
  EXPECT_EQ(problem.type_ids.at("truck"), 0u);

  EXPECT_TRUE(problem.cost_matrices.empty());
  // The constraint collections are replaced even without "constraints".
  EXPECT_TRUE(problem.assignment_constraint.allowed_types.empty());
  EXPECT_TRUE(problem.timewindow_constraint.windows.empty());
  // Without "options" the options keep their earlier values.
  EXPECT_EQ(problem.options.objective, ObjectiveType::MinMax);
  EXPECT_EQ(problem.options.time_limit, 5.0);
}

TEST(JsonLoaderTest, NodeTypeIsDepotOnlyForExactWord) {
  json doc = MinimalDoc();
  doc["nodes"][0]["type"] = "depot";
  doc["nodes"][1]["type"] = "DEPOT ";
  Problem problem = Load(doc);
  EXPECT_EQ(problem.nodes[0].type, NodeType::TARGET);
  EXPECT_EQ(problem.nodes[1].type, NodeType::TARGET);

  doc["nodes"][0]["type"] = 5;
  EXPECT_EQ(LoadError(doc), "[json.exception.type_error.302] type must be string, but is number");
}

TEST(JsonLoaderTest, UnsignedIdConversions) {
  const auto id_of = [](json id) {
    json doc = MinimalDoc();
    doc["nodes"][1]["id"] = id;
    return Load(doc).nodes[1].id;
  };
  const uint64_t max = std::numeric_limits<uint64_t>::max();
  EXPECT_EQ(id_of(json::parse("2.9")), 2u);
  EXPECT_EQ(id_of(json::parse("-1")), max);
  EXPECT_EQ(id_of(json::parse("-2.5")), 0u);
  EXPECT_EQ(id_of(json::parse("-3.0")), 0u);
  EXPECT_EQ(id_of(json::parse("18446744073709551615")), max);
  EXPECT_EQ(id_of(json::parse("1e30")), max);
  EXPECT_EQ(id_of(true), 1u);
  EXPECT_EQ(id_of(false), 0u);

  json doc = MinimalDoc();
  doc["nodes"][1]["id"] = "1";
  EXPECT_EQ(LoadError(doc), "[json.exception.type_error.302] type must be number, but is string");
  doc = MinimalDoc();
  doc["agents"][0]["start_node"] = nullptr;
  EXPECT_EQ(LoadError(doc), "[json.exception.type_error.302] type must be number, but is null");
}

// The model holds doubles; a 32-bit reading turned 3000000000 into a
// negative number (no limit) and 0.001 into 0 (no limit).
TEST(JsonLoaderTest, CapacityAndLengthKeepTheNumberGiven) {
  const auto capacity_of = [](json value) {
    json doc = MinimalDoc();
    doc["agents"][0]["capacity"] = value;
    doc["agents"][0]["max_length"] = value;
    const Agent agent = Load(doc).agents_ordered[0];
    EXPECT_EQ(agent.capacity_limit, agent.time_limit);
    return agent.capacity_limit;
  };
  EXPECT_EQ(capacity_of(json::parse("3.9")), 3.9);
  EXPECT_EQ(capacity_of(json::parse("0.001")), 0.001);
  EXPECT_EQ(capacity_of(json::parse("-2.7")), -2.7);
  EXPECT_EQ(capacity_of(json::parse("-1")), -1.0);
  EXPECT_EQ(capacity_of(json::parse("4294967298")), 4294967298.0);
  EXPECT_EQ(capacity_of(json::parse("3000000000")), 3e9);
  EXPECT_EQ(capacity_of(json::parse("18446744073709551615")), 18446744073709551615.0);
  EXPECT_EQ(capacity_of(json::parse("-1e12")), -1e12);
  EXPECT_EQ(capacity_of(true), 1.0);
  EXPECT_EQ(capacity_of(false), 0.0);

  json doc = MinimalDoc();
  doc["agents"][0]["capacity"] = json::array();
  EXPECT_EQ(LoadError(doc), "[json.exception.type_error.302] type must be number, but is array");
  doc = MinimalDoc();
  doc["agents"][0]["max_length"] = "10";
  EXPECT_EQ(LoadError(doc), "[json.exception.type_error.302] type must be number, but is string");
}

// Floats are truncated toward zero as before; what lies outside the signed
// 64-bit range is refused, naming the option, instead of an undefined cast.
TEST(JsonLoaderTest, SeedAndIterationsMustFitSigned64Bits) {
  const auto options_of = [](json value) {
    json doc = MinimalDoc();
    doc["options"] = {{"seed", value}, {"max_iterations", value}};
    const Options options = Load(doc).options;
    EXPECT_EQ(options.seed, options.max_iterations);
    return options.seed;
  };
  const int64_t min = std::numeric_limits<int64_t>::min();
  const int64_t max = std::numeric_limits<int64_t>::max();
  EXPECT_EQ(options_of(json::parse("-5")), -5);
  EXPECT_EQ(options_of(json::parse("2.9")), 2);
  EXPECT_EQ(options_of(json::parse("-2.9")), -2);
  EXPECT_EQ(options_of(json::parse("9223372036854775807")), max);
  EXPECT_EQ(options_of(json::parse("-9223372036854775808")), min);
  EXPECT_EQ(options_of(json::parse("-9.2233720368547758e18")), min);  // -2^63 as a float
  EXPECT_EQ(options_of(json::parse("9.2233720368547748e18")), 9223372036854774784);

  const auto refusal = [](const char* key, json value) -> std::string {
    json doc = MinimalDoc();
    doc["options"] = {{key, value}};
    Problem problem;
    try {
      ParseProblemJson(doc, problem);
    } catch (const std::invalid_argument& e) {
      return e.what();
    }
    return "accepted";
  };
  EXPECT_EQ(refusal("seed", json::parse("1e19")),
            "option \"seed\" must be a whole number from -9223372036854775808 to "
            "9223372036854775807, got 1e+19");
  EXPECT_EQ(refusal("max_iterations", json::parse("9223372036854775808")),
            "option \"max_iterations\" must be a whole number from -9223372036854775808 to "
            "9223372036854775807, got 9223372036854775808");
  EXPECT_EQ(refusal("max_no_improvement", json::parse("-1e300")),
            "option \"max_no_improvement\" must be a whole number from -9223372036854775808 to "
            "9223372036854775807, got -1e+300");
  // 2^63 as a float is the first value above the range.
  const std::string seed_refused = "option \"seed\" must be a whole number";
  for (const char* text : {"9.2233720368547758e18", "1e300", "-1e300", "-9.3e18"}) {
    EXPECT_EQ(refusal("seed", json::parse(text)).substr(0, seed_refused.size()), seed_refused)
        << text;
  }
  // Built in code, a document may hold what JSON text cannot.
  const std::string iterations_refused = "option \"max_iterations\" must be a whole number";
  for (const double odd : {std::numeric_limits<double>::quiet_NaN(),
                           std::numeric_limits<double>::infinity(),
                           -std::numeric_limits<double>::infinity()}) {
    EXPECT_EQ(refusal("max_iterations", odd).substr(0, iterations_refused.size()),
              iterations_refused)
        << odd;
  }

  json doc = MinimalDoc();
  doc["options"] = {{"seed", "7"}};
  EXPECT_EQ(LoadError(doc), "[json.exception.type_error.302] type must be number, but is string");
  doc["options"] = {{"max_iterations", true}};
  EXPECT_EQ(LoadError(doc), "[json.exception.type_error.302] type must be number, but is boolean");
}

TEST(JsonLoaderTest, DoublesRejectBooleansAndOtherTypes) {
  json doc = MinimalDoc();
  doc["nodes"][0]["x"] = true;
  EXPECT_EQ(LoadError(doc), "[json.exception.type_error.302] type must be number, but is boolean");
  doc = MinimalDoc();
  doc["nodes"][1]["demand"] = "a";
  EXPECT_EQ(LoadError(doc), "[json.exception.type_error.302] type must be number, but is string");
  doc = MinimalDoc();
  doc["nodes"][1]["z"] = json::parse("18446744073709551615");
  EXPECT_EQ(Load(doc).nodes[1].position.z, 18446744073709551615.0);
}

TEST(JsonLoaderTest, MissingKeysAndNonObjects) {
  json doc = MinimalDoc();
  doc["agents"][0].erase("end_node");
  EXPECT_EQ(LoadError(doc), "[json.exception.out_of_range.403] key 'end_node' not found");
  doc = MinimalDoc();
  doc.erase("agents");
  EXPECT_EQ(LoadError(doc), "[json.exception.out_of_range.403] key 'agents' not found");
  doc = MinimalDoc();
  doc["nodes"][1] = 4;
  EXPECT_EQ(LoadError(doc), "[json.exception.type_error.304] cannot use at() with number");
  EXPECT_EQ(LoadError(json::array()), "[json.exception.type_error.304] cannot use at() with array");
  doc = MinimalDoc();
  doc["nodes"] = json::object();
  EXPECT_EQ(LoadError(doc), "[json.exception.type_error.302] type must be array, but is object");
}

// The place a refusal names, from the same failure as LoadError; the
// exception itself must stay the library's.
std::string Refusal(const json& doc) {
  Problem problem;
  std::string refusal;
  try {
    ParseProblemJson(doc, problem, &refusal);
  } catch (const json::exception&) {
    return refusal;
  }
  return "no exception";
}

TEST(JsonLoaderTest, RefusalsNameTheElementAndKey) {
  const auto edited = [](const char* pointer, const json& value) {
    json doc = MinimalDoc();
    doc["costs"] = {{"truck", {{0, 1}, {1, 0}}}};
    doc["constraints"] = json::parse(R"([
      {"kind": "assignment", "items": [{"node": 0, "types": ["truck"]}, {"node": 1, "types": ["truck"]}]},
      {"kind": "sequence", "precedence": [{"before": 0, "after": 1}]}])");
    doc["options"] = json::object();
    if (value.is_discarded()) {
      const json::json_pointer at(pointer);
      doc[at.parent_pointer()].erase(at.back());
    } else {
      doc[json::json_pointer(pointer)] = value;
    }
    return doc;
  };
  const json gone(json::value_t::discarded);
  const std::pair<json, std::string> cases[] = {
      {json::array(), "the document must be an object, but is array"},
      {edited("/agents", gone), "the document has no key 'agents'"},
      {edited("/nodes", json::object()), "the document, key \"nodes\": type must be array, but is object"},
      {edited("/agents/0/end_node", gone), "agents[0] (agent 9) has no key 'end_node'"},
      {edited("/agents/0/id", "nine"), "agents[0], key \"id\": type must be number, but is string"},
      {edited("/agents/0/capacity", "big"),
       "agents[0] (agent 9), key \"capacity\": type must be number, but is string"},
      {edited("/nodes/1/x", true), "nodes[1] (node 1), key \"x\": type must be number, but is boolean"},
      {edited("/nodes/1/demand", "a"), "nodes[1] (node 1), key \"demand\": type must be number, but is string"},
      {edited("/nodes/1", 4), "nodes[1] must be an object, but is number"},
      {edited("/costs/truck/1/0", "far"), "\"costs\", key \"truck\": type must be number, but is string"},
      {edited("/costs", "none"), "the document, key \"costs\": type must be array, but is string"},
      {edited("/constraints", json::object()),
       "the document, key \"constraints\": type must be array, but is object"},
      {edited("/constraints/1", 3), "constraints[1] must be an object, but is number"},
      {edited("/constraints/0/kind", gone), "constraints[0] has no key 'kind'"},
      {edited("/constraints/0/kind", 7), "constraints[0], key \"kind\": type must be string, but is number"},
      {edited("/constraints/0/items", 7),
       "constraints[0] (\"assignment\"), key \"items\": type must be array, but is number"},
      {edited("/constraints/0/items/1/types/0", 5),
       "constraints[0] (\"assignment\"), item 1, key \"types\": type must be string, but is number"},
      {edited("/constraints/1/precedence/0", "x"),
       "constraints[1] (\"sequence\"), item 0 must be an object, but is string"},
      {edited("/constraints/1/precedence/0/after", gone), "constraints[1] (\"sequence\"), item 0 has no key 'after'"},
      {edited("/options", json::array()), "\"options\" must be an object, but is array"},
      {edited("/options/time_limit", "soon"), "\"options\", key \"time_limit\": type must be number, but is string"},
      {edited("/options/seed", "s"), "\"options\", key \"seed\": type must be number, but is string"},
  };
  for (const auto& [doc, place] : cases) {
    EXPECT_EQ(Refusal(doc), place) << doc.dump();
  }
  // The exception is the library's, with its message alone.
  EXPECT_EQ(LoadError(edited("/agents/0/end_node", gone)),
            "[json.exception.out_of_range.403] key 'end_node' not found");
  EXPECT_EQ(Refusal(edited("/options/seed", 1)), "no exception");
}

TEST(JsonLoaderTest, FailureKeepsWhatWasAddedBefore) {
  json doc = MinimalDoc();
  doc["agents"].push_back({{"id", 10}, {"type", "drone"}, {"start_node", 0}});
  Problem problem;
  EXPECT_THROW(ParseProblemJson(doc, problem), json::out_of_range);
  EXPECT_EQ(problem.nodes.size(), 2u);
  EXPECT_EQ(problem.agents_ordered.size(), 1u);
}

TEST(JsonLoaderTest, CostsByNameOrByPosition) {
  json doc = MinimalDoc();
  doc["costs"] = {{"truck", {{0, 1.5}, {2, 0}}}, {"ghost", json::array()}};
  Problem problem = Load(doc);
  EXPECT_EQ(problem.cost_matrices.at("truck"), (CostMatrix{{0, 1.5}, {2, 0}}));
  EXPECT_TRUE(problem.cost_matrices.at("ghost").empty());

  doc["costs"] = {json::array({{0, 1}}), json::array({{0, 2, 3}})};
  problem = Load(doc);
  ASSERT_EQ(problem.cost_matrices.size(), 2u);
  EXPECT_EQ(problem.cost_matrices.at("0"), (CostMatrix{{0, 1}}));
  EXPECT_EQ(problem.cost_matrices.at("1"), (CostMatrix{{0, 2, 3}}));

  doc["costs"] = {{"truck", {{0, "1"}}}};
  EXPECT_EQ(LoadError(doc), "[json.exception.type_error.302] type must be number, but is string");
  doc["costs"] = {{"truck", {1, 2}}};
  EXPECT_EQ(LoadError(doc), "[json.exception.type_error.302] type must be array, but is number");
}

TEST(JsonLoaderTest, ConstraintsAccumulateByKind) {
  json doc = MinimalDoc();
  doc["constraints"] = json::parse(R"([
    {"kind": "assignment", "items": [
      {"node": 1, "types": ["truck", "drone"]}, {"node": 2, "types": []}]},
    {"kind": "assignment", "items": [{"node": 1, "types": ["drone"]}]},
    {"kind": "timewindow", "items": [{"node": 1, "start": 2, "end": 8.5}]},
    {"kind": "timewindow"},
    {"kind": "sequence", "precedence": [
      {"before": 3, "after": 5, "type": "same"},
      {"before": 3, "after": 5},
      {"before": 4, "after": 6, "type": "diff"},
      {"before": 7, "after": 8, "type": "SAME"}]},
    {"kind": "capacity", "items": 5},
    {"kind": "Assignment", "items": [{"node": 9, "types": ["x"]}]}
  ])");
  testing::ConsoleCapture console;
  const Problem problem = Load(doc);
  EXPECT_EQ(console.TakeErr(),
            "[warning] unknown constraint kind \"capacity\" is ignored (known kinds: assignment, "
            "timewindow, sequence)\n"
            "[warning] unknown constraint kind \"Assignment\" is ignored (known kinds: "
            "assignment, timewindow, sequence)\n");
  const auto& allowed = problem.assignment_constraint.allowed_types;
  EXPECT_EQ(allowed.size(), 2u);
  EXPECT_EQ(allowed.at(1), (std::vector<std::string>{"drone"}));
  EXPECT_TRUE(allowed.at(2).empty());
  EXPECT_EQ(problem.timewindow_constraint.windows.size(), 1u);
  EXPECT_EQ(problem.timewindow_constraint.windows.at(1), std::make_pair(2.0, 8.5));
  EXPECT_EQ(problem.precedence_same, (PrecedencePairs{{3, 5}}));
  EXPECT_EQ(problem.precedence_diff, (PrecedencePairs{{4, 6}}));
  EXPECT_EQ(problem.precedence, (PrecedencePairs{{3, 5}, {7, 8}}));
}

TEST(JsonLoaderTest, MalformedConstraints) {
  json doc = MinimalDoc();
  doc["constraints"] = json::parse(R"([{"items": []}])");
  EXPECT_EQ(LoadError(doc), "[json.exception.out_of_range.403] key 'kind' not found");
  doc["constraints"] = json::parse(R"([{"kind": "assignment", "items": [{"node": 1, "types": "truck"}]}])");
  EXPECT_EQ(LoadError(doc), "[json.exception.type_error.302] type must be array, but is string");
  doc["constraints"] = json::parse(R"([{"kind": "assignment", "items": [{"node": 1, "types": [2]}]}])");
  EXPECT_EQ(LoadError(doc), "[json.exception.type_error.302] type must be string, but is number");
  doc["constraints"] = json::parse(R"([{"kind": "timewindow", "items": [{"node": 1, "start": 0}]}])");
  EXPECT_EQ(LoadError(doc), "[json.exception.out_of_range.403] key 'end' not found");
  doc["constraints"] = json::parse(R"([{"kind": "sequence", "precedence": [[3, 5]]}])");
  EXPECT_EQ(LoadError(doc), "[json.exception.type_error.304] cannot use at() with array");
  doc["constraints"] = json::parse(R"([{"kind": "timewindow", "items": {"node": 1}}])");
  EXPECT_EQ(LoadError(doc), "[json.exception.type_error.302] type must be array, but is object");
}

TEST(JsonLoaderTest, ObjectiveStrings) {
  const auto objective_of = [](const json& options) {
    json doc = MinimalDoc();
    doc["options"] = options;
    return Load(doc).options.objective;
  };
  for (const char* name : {"min_max", "MIN_MAX"}) {
    EXPECT_EQ(objective_of({{"objective", name}}), ObjectiveType::MinMax) << name;
  }
  testing::ConsoleCapture console;
  for (const char* name : {"min_sum", "MIN_SUM"}) {
    EXPECT_EQ(objective_of({{"objective", name}}), ObjectiveType::MinSum) << name;
  }
  EXPECT_EQ(objective_of(json::object()), ObjectiveType::MinSum);
  EXPECT_EQ(console.TakeErr(), "");
  // Anything else is min-sum too, with a warning naming the value.
  for (const char* name : {"MinMax", "minmax", "Min_Max", ""}) {
    EXPECT_EQ(objective_of({{"objective", name}}), ObjectiveType::MinSum) << name;
    EXPECT_EQ(console.TakeErr(), std::string("[warning] unknown objective \"") + name +
                                     "\"; using min_sum (known objectives: min_max, min_sum)\n");
  }
}

TEST(JsonLoaderTest, UnknownKeysAreNamed) {
  json doc = MinimalDoc();
  doc["name"] = "berlin52";
  doc["scale"] = 0.5;
  doc["benchmark"] = json::object();
  doc["options"] = {{"return_to_end", true}, {"objective", "min_max"}, {"time_limit", 5},
                    {"missing_cost", 1e6},   {"memory_limit_mb", 100},  {"improve", true},
                    {"seed", 3},             {"max_iterations", 10},    {"max_no_improvement", 500},
                    {"enforce_capacity", true}, {"schedule", true}};
  testing::ConsoleCapture console;
  Problem problem = Load(doc);
  EXPECT_EQ(console.TakeErr(), "");
  EXPECT_EQ(problem.options.missing_cost, 1e6);
  EXPECT_EQ(problem.options.max_no_improvement, 500);
  EXPECT_TRUE(problem.options.enforce_capacity);
  EXPECT_TRUE(problem.options.schedule);

  doc["constraint"] = json::array();
  doc["options"] = {{"objetive", "min_max"}, {"time_limit", 5}, {"returnToEnd", false}};
  problem = Load(doc);
  // Keys come in the document object's order, which is by name.
  EXPECT_EQ(console.TakeErr(),
            "[warning] unknown key \"constraint\" in the instance document is ignored\n"
            "[warning] unknown key \"objetive\" in \"options\" is ignored\n"
            "[warning] unknown key \"returnToEnd\" in \"options\" is ignored\n");
  EXPECT_EQ(problem.options.objective, ObjectiveType::MinSum);
  EXPECT_EQ(problem.options.missing_cost, 9999.0);
}

TEST(JsonLoaderTest, OptionsAssignEveryField) {
  json doc = MinimalDoc();
  doc["options"] = {{"return_to_end", false}, {"objective", "min_max"}, {"time_limit", 7}};
  Problem problem = Load(doc);
  EXPECT_FALSE(problem.options.return_to_end);
  EXPECT_EQ(problem.options.time_limit, 7.0);

  problem.options = Options{false, ObjectiveType::MinMax, 3.0, 5.0};
  problem.options.enforce_capacity = true;
  problem.options.schedule = true;
  doc["options"] = json::object();
  ParseProblemJson(doc, problem);
  EXPECT_FALSE(problem.options.enforce_capacity);
  EXPECT_FALSE(problem.options.schedule);
  EXPECT_TRUE(problem.options.return_to_end);
  EXPECT_EQ(problem.options.objective, ObjectiveType::MinSum);
  EXPECT_EQ(problem.options.time_limit, 60.0);
  EXPECT_EQ(problem.options.missing_cost, 9999.0);

  doc["options"] = json::array();
  EXPECT_EQ(LoadError(doc), "[json.exception.type_error.306] cannot use value() with array");
  doc["options"] = {{"return_to_end", 1}};
  EXPECT_EQ(LoadError(doc), "[json.exception.type_error.302] type must be boolean, but is number");
  doc["options"] = {{"time_limit", true}};
  EXPECT_EQ(LoadError(doc), "[json.exception.type_error.302] type must be number, but is boolean");
  doc["options"] = {{"missing_cost", "high"}};
  EXPECT_EQ(LoadError(doc), "[json.exception.type_error.302] type must be number, but is string");
  doc["options"] = {{"enforce_capacity", 1}};
  EXPECT_EQ(LoadError(doc), "[json.exception.type_error.302] type must be boolean, but is number");
}

TEST(JsonLibraryTest, EmptyInputMessage) {
  try {
    const json parsed = json::parse("");
    FAIL() << "parsing an empty string gave " << parsed.dump();
  } catch (const json::parse_error& e) {
    EXPECT_NE(std::string(e.what()).find("attempting to parse an empty input; check that your "
                                         "input string or stream contains the expected JSON"),
              std::string::npos)
        << e.what();
  }
}

}  // namespace
}  // namespace tarsel
