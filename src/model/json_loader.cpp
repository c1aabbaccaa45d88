#include "model/json_loader.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <limits>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "common/console.h"
#include "common/special_values.h"

namespace tarsel {

namespace {

using nlohmann::json;

[[noreturn]] void ThrowWrongType(const char* expected, const json& value) {
  throw json::type_error::create(
      302, std::string("type must be ") + expected + ", but is " + value.type_name(), &value);
}

// The library's get<uint64_t>() rejects booleans and its float conversions are
// undefined outside the target range, so the integer kinds are converted here.
// Negative integers wrap around; floats are truncated toward zero and clamped
// to [0, 2^64 - 1] (NaN gives 0); booleans count as 1/0.
uint64_t ToUint64(const json& value) {
  switch (value.type()) {
    case json::value_t::number_unsigned:
      return value.get_ref<const json::number_unsigned_t&>();
    case json::value_t::number_integer:
      return static_cast<uint64_t>(value.get_ref<const json::number_integer_t&>());
    case json::value_t::number_float: {
      const double d = value.get_ref<const json::number_float_t&>();
      if (!(d > 0.0)) return 0;
      if (d >= 18446744073709551616.0) return std::numeric_limits<uint64_t>::max();
      return static_cast<uint64_t>(d);
    }
    case json::value_t::boolean:
      return value.get_ref<const json::boolean_t&>() ? 1 : 0;
    default:
      ThrowWrongType("number", value);
  }
}

// Low 32 bits of an integer, read as two's complement.
int32_t LowBits32(uint64_t bits) {
  const uint32_t low = static_cast<uint32_t>(bits);
  if (low <= static_cast<uint32_t>(std::numeric_limits<int32_t>::max())) {
    return static_cast<int32_t>(low);
  }
  return static_cast<int32_t>(static_cast<int64_t>(low) - (int64_t{1} << 32));
}

// Integers keep their low 32 bits; floats are truncated toward zero and
// clamped to the int32 range (NaN gives 0); booleans count as 1/0.
int32_t ToInt32(const json& value) {
  switch (value.type()) {
    case json::value_t::number_unsigned:
      return LowBits32(value.get_ref<const json::number_unsigned_t&>());
    case json::value_t::number_integer:
      return LowBits32(static_cast<uint64_t>(value.get_ref<const json::number_integer_t&>()));
    case json::value_t::number_float: {
      const double d = value.get_ref<const json::number_float_t&>();
      if (std::isnan(d)) return 0;
      if (d >= 2147483648.0) return std::numeric_limits<int32_t>::max();
      if (d <= -2147483649.0) return std::numeric_limits<int32_t>::min();
      return static_cast<int32_t>(d);
    }
    case json::value_t::boolean:
      return value.get_ref<const json::boolean_t&>() ? 1 : 0;
    default:
      ThrowWrongType("number", value);
  }
}

// Member `key` of an object for an optional read, or nullptr when absent.
// Looking into anything but an object fails as the library's value() does.
const json* FindOptional(const json& object, const char* key) {
  if (!object.is_object()) {
    throw json::type_error::create(
        306, std::string("cannot use value() with ") + object.type_name(), &object);
  }
  const auto it = object.find(key);
  return it == object.end() ? nullptr : &*it;
}

const json& RequireArray(const json& value) {
  if (!value.is_array()) ThrowWrongType("array", value);
  return value;
}

double OptionalInt32AsDouble(const json& object, const char* key) {
  const json* member = FindOptional(object, key);
  return member ? static_cast<double>(ToInt32(*member)) : 0.0;
}

Node ReadNode(const json& item) {
  Node node;
  node.id = ToUint64(item.at("id"));
  node.position.x = item.at("x").get<double>();
  node.position.y = item.at("y").get<double>();
  node.position.z = item.at("z").get<double>();
  if (item.contains("type")) {
    node.type = item.at("type").get<std::string>() == "DEPOT" ? NodeType::DEPOT : NodeType::TARGET;
  }
  node.demand = item.value("demand", 0.0);
  return node;
}

Agent ReadAgent(const json& item) {
  Agent agent;
  agent.id = ToUint64(item.at("id"));
  agent.type = item.at("type").get<std::string>();
  agent.start_node = ToUint64(item.at("start_node"));
  agent.end_node = ToUint64(item.at("end_node"));
  agent.capacity_limit = OptionalInt32AsDouble(item, "capacity");
  agent.time_limit = OptionalInt32AsDouble(item, "max_length");
  return agent;
}

// "costs" as an object maps type names to matrices; as an array its elements
// are named by their positions ("0", "1", ...).
void ReadCosts(const json& costs, Problem& problem) {
  if (costs.is_object()) {
    for (const auto& member : costs.items()) {
      problem.cost_matrices[member.key()] = member.value().get<CostMatrix>();
    }
    return;
  }
  RequireArray(costs);
  for (size_t i = 0; i < costs.size(); ++i) {
    problem.cost_matrices[std::to_string(i)] = costs[i].get<CostMatrix>();
  }
}

// Constraint collections gathered over all constraint objects; several
// constraints of one kind accumulate, later entries winning per node.
struct ConstraintSet {
  AssignmentConstraint assignment;
  TimeWindowConstraint timewindow;
  PrecedencePairs precedence;
  PrecedencePairs precedence_same;
  PrecedencePairs precedence_diff;
};

// Keys the system reads or writes itself; any other key is most likely a
// typo, which would otherwise pass silently. "name", "scale" and
// "benchmark" describe the benchmark instances; the options from
// "memory_limit_mb" on are reserved for the solver's own use.
constexpr const char* kDocumentKeys[] = {"nodes",   "agents", "costs", "constraints",
                                         "options", "name",   "scale", "benchmark"};
constexpr const char* kOptionKeys[] = {"return_to_end", "objective",       "time_limit",
                                       "missing_cost",  "memory_limit_mb", "improve",
                                       "seed",          "max_iterations",
                                       "max_no_improvement"};

template <size_t N>
void WarnAboutUnknownKeys(const json& object, const char* const (&known)[N], const char* where) {
  if (!object.is_object()) return;
  for (const auto& member : object.items()) {
    const std::string& key = member.key();
    if (std::find(std::begin(known), std::end(known), key) != std::end(known)) continue;
    ConsoleLine(ConsoleStream::kErr, "[warning] unknown key \"", key, "\" ", where,
                " is ignored");
  }
}

void ReadConstraint(const json& constraint, ConstraintSet& out) {
  const std::string kind = constraint.at("kind").get<std::string>();
  if (kind == "assignment") {
    const json* items = FindOptional(constraint, "items");
    if (!items) return;
    for (const json& item : RequireArray(*items)) {
      const uint64_t node = ToUint64(item.at("node"));
      out.assignment.set_assignment(node, item.at("types").get<std::vector<std::string>>());
    }
  } else if (kind == "timewindow") {
    const json* items = FindOptional(constraint, "items");
    if (!items) return;
    for (const json& item : RequireArray(*items)) {
      const uint64_t node = ToUint64(item.at("node"));
      const double start = item.at("start").get<double>();
      const double end = item.at("end").get<double>();
      out.timewindow.set_timewindow(node, start, end);
    }
  } else if (kind == "sequence") {
    const json* pairs = FindOptional(constraint, "precedence");
    if (!pairs) return;
    for (const json& item : RequireArray(*pairs)) {
      const uint64_t before = ToUint64(item.at("before"));
      const uint64_t after = ToUint64(item.at("after"));
      const json* type = FindOptional(item, "type");
      const std::string type_name = type ? type->get<std::string>() : std::string();
      PrecedencePairs& target = type_name == "same"   ? out.precedence_same
                                : type_name == "diff" ? out.precedence_diff
                                                      : out.precedence;
      target.emplace_back(before, after);
    }
  } else {
    ConsoleLine(ConsoleStream::kErr, "[warning] unknown constraint kind \"", kind,
                "\" is ignored (known kinds: assignment, timewindow, sequence)");
  }
}

// Every field is assigned; value() rejects anything but an object.
void ReadOptions(const json& options, Options& out) {
  out.return_to_end = options.value("return_to_end", true);
  const std::string objective = options.value("objective", std::string("min_sum"));
  out.objective = (objective == "min_max" || objective == "MIN_MAX") ? ObjectiveType::MinMax
                                                                     : ObjectiveType::MinSum;
  if (objective != "min_max" && objective != "MIN_MAX" && objective != "min_sum" &&
      objective != "MIN_SUM") {
    ConsoleLine(ConsoleStream::kErr, "[warning] unknown objective \"", objective,
                "\"; using min_sum (known objectives: min_max, min_sum)");
  }
  out.time_limit = options.value("time_limit", 60.0);
  out.memory_limit_mb = options.value("memory_limit_mb", DefaultMemoryLimitMb());
  out.improve = options.value("improve", false);
  out.seed = options.value("seed", int64_t{0});
  out.max_iterations = options.value("max_iterations", int64_t{0});
  out.max_no_improvement = options.value("max_no_improvement", int64_t{0});
  out.missing_cost = options.value("missing_cost", kNoConnection);
}

}  // namespace

void ParseProblemJson(const json& doc, Problem& problem) {
  WarnAboutUnknownKeys(doc, kDocumentKeys, "in the instance document");
  for (const json& item : RequireArray(doc.at("nodes"))) problem.add_node(ReadNode(item));

  for (const json& item : RequireArray(doc.at("agents"))) {
    const Agent agent = ReadAgent(item);
    problem.add_agent(agent, agent.id);
  }

  if (doc.contains("costs")) ReadCosts(doc.at("costs"), problem);

  ConstraintSet constraints;
  if (doc.contains("constraints")) {
    for (const json& constraint : RequireArray(doc.at("constraints"))) {
      ReadConstraint(constraint, constraints);
    }
  }
  problem.assignment_constraint = std::move(constraints.assignment);
  problem.timewindow_constraint = std::move(constraints.timewindow);
  problem.precedence = std::move(constraints.precedence);
  problem.precedence_same = std::move(constraints.precedence_same);
  problem.precedence_diff = std::move(constraints.precedence_diff);

  if (doc.contains("options")) {
    WarnAboutUnknownKeys(doc.at("options"), kOptionKeys, "in \"options\"");
    ReadOptions(doc.at("options"), problem.options);
  }
}

}  // namespace tarsel
