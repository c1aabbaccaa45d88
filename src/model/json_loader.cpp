#include "model/json_loader.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <limits>
#include <optional>
#include <stdexcept>
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

// Truncation toward zero of `d` into T, or nothing when `d` is NaN or its
// whole part lies outside T's range: there a plain cast is undefined.
template <class T>
std::optional<T> TruncatedInRange(double d) {
  static_assert(std::numeric_limits<T>::is_integer, "an integer type");
  // Both bounds are exact doubles: 0 or -2^k below, 2^k just above the maximum.
  const double lower = static_cast<double>(std::numeric_limits<T>::min());
  const double above = std::ldexp(1.0, std::numeric_limits<T>::digits);
  if (std::isnan(d) || d >= above || std::trunc(d) < lower) return std::nullopt;
  return static_cast<T>(d);
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
      if (const std::optional<uint64_t> whole = TruncatedInRange<uint64_t>(d)) return *whole;
      return d > 0.0 ? std::numeric_limits<uint64_t>::max() : 0;
    }
    case json::value_t::boolean:
      return value.get_ref<const json::boolean_t&>() ? 1 : 0;
    default:
      ThrowWrongType("number", value);
  }
}

// A signed 64-bit option ("seed", "max_iterations"): integers as given,
// floats truncated toward zero; booleans are no numbers here, as for the
// library's get<int64_t>(). A value outside the range (an integer above
// 2^63 - 1, a float such as 1e19 or -1e300) is refused with
// std::invalid_argument, since no reading of it is the number written.
int64_t ToInt64Option(const json& value, const char* key) {
  switch (value.type()) {
    case json::value_t::number_integer:
      return value.get_ref<const json::number_integer_t&>();
    case json::value_t::number_unsigned: {
      const uint64_t whole = value.get_ref<const json::number_unsigned_t&>();
      if (whole <= static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) {
        return static_cast<int64_t>(whole);
      }
      break;
    }
    case json::value_t::number_float: {
      const double d = value.get_ref<const json::number_float_t&>();
      if (const std::optional<int64_t> whole = TruncatedInRange<int64_t>(d)) return *whole;
      break;
    }
    default:
      ThrowWrongType("number", value);
  }
  throw std::invalid_argument(std::string("option \"") + key +
                              "\" must be a whole number from -9223372036854775808 to "
                              "9223372036854775807, got " + value.dump());
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

// A route-length limit or capacity, kept as the number given (the model
// holds doubles): a 32-bit reading would turn 3000000000 into a negative
// number, which means no limit, and 0.001 into 0, no limit either. Booleans
// count as 1/0.
double OptionalLimit(const json& object, const char* key) {
  const json* member = FindOptional(object, key);
  if (member == nullptr) return 0.0;
  if (member->is_boolean()) return member->get_ref<const json::boolean_t&>() ? 1.0 : 0.0;
  if (!member->is_number()) ThrowWrongType("number", *member);
  return member->get<double>();
}

int64_t OptionalInt64Option(const json& options, const char* key) {
  const json* member = FindOptional(options, key);
  return member ? ToInt64Option(*member, key) : 0;
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
  agent.capacity_limit = OptionalLimit(item, "capacity");
  agent.time_limit = OptionalLimit(item, "max_length");
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
                                       "max_no_improvement", "enforce_precedence"};

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
  out.seed = OptionalInt64Option(options, "seed");
  out.max_iterations = OptionalInt64Option(options, "max_iterations");
  out.max_no_improvement = OptionalInt64Option(options, "max_no_improvement");
  out.missing_cost = options.value("missing_cost", kNoConnection);
  out.enforce_precedence = options.value("enforce_precedence", false);
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
