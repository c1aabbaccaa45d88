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

// The key the reader looks up last, so that a refusal of the JSON library
// can name it (`ReadFailure`). Every lookup of an element's key goes
// through it.
struct KeyInReading {
  std::string name;  // empty before the first lookup

  const json& At(const json& object, const char* key) {
    name = key;
    return object.at(key);
  }
  template <class T>
  T Value(const json& object, const char* key, T fallback) {
    name = key;
    return object.value(key, std::move(fallback));
  }
  const json* Find(const json& object, const char* key) {
    name = key;
    return FindOptional(object, key);
  }
};

// A route-length limit or capacity, kept as the number given (the model
// holds doubles): a 32-bit reading would turn 3000000000 into a negative
// number, which means no limit, and 0.001 into 0, no limit either. Booleans
// count as 1/0.
double OptionalLimit(const json& object, const char* key, KeyInReading& reading) {
  const json* member = reading.Find(object, key);
  if (member == nullptr) return 0.0;
  if (member->is_boolean()) return member->get_ref<const json::boolean_t&>() ? 1.0 : 0.0;
  if (!member->is_number()) ThrowWrongType("number", *member);
  return member->get<double>();
}

int64_t OptionalInt64Option(const json& options, const char* key, KeyInReading& reading) {
  const json* member = reading.Find(options, key);
  return member ? ToInt64Option(*member, key) : 0;
}

Node ReadNode(const json& item, KeyInReading& key) {
  Node node;
  node.id = ToUint64(key.At(item, "id"));
  node.position.x = key.At(item, "x").get<double>();
  node.position.y = key.At(item, "y").get<double>();
  node.position.z = key.At(item, "z").get<double>();
  if (item.contains("type")) {
    node.type = key.At(item, "type").get<std::string>() == "DEPOT" ? NodeType::DEPOT : NodeType::TARGET;
  }
  node.demand = key.Value(item, "demand", 0.0);
  return node;
}

Agent ReadAgent(const json& item, KeyInReading& key) {
  Agent agent;
  agent.id = ToUint64(key.At(item, "id"));
  agent.type = key.At(item, "type").get<std::string>();
  agent.start_node = ToUint64(key.At(item, "start_node"));
  agent.end_node = ToUint64(key.At(item, "end_node"));
  agent.capacity_limit = OptionalLimit(item, "capacity", key);
  agent.time_limit = OptionalLimit(item, "max_length", key);
  return agent;
}

// "costs" as an object maps type names to matrices; as an array its elements
// are named by their positions ("0", "1", ...).
void ReadCosts(const json& costs, Problem& problem, KeyInReading& key) {
  if (costs.is_object()) {
    for (const auto& member : costs.items()) {
      key.name = member.key();
      problem.cost_matrices[member.key()] = member.value().get<CostMatrix>();
    }
    return;
  }
  RequireArray(costs);
  for (size_t i = 0; i < costs.size(); ++i) {
    key.name = std::to_string(i);
    problem.cost_matrices[key.name] = costs[i].get<CostMatrix>();
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

// How far the reading of one constraint got: its kind once read, and the
// payload element being read.
struct ConstraintPlace {
  std::string kind;
  std::optional<size_t> item;
  const json* element = nullptr;  // the payload element, or nullptr for the constraint itself
};

// Keys the system reads or writes itself; any other key is most likely a
// typo, which would otherwise pass silently. "name", "scale" and
// "benchmark" describe the benchmark instances; the options from
// "memory_limit_mb" on are reserved for the solver's own use.
constexpr const char* kDocumentKeys[] = {"nodes",   "agents", "costs", "constraints",
                                         "options", "name",   "scale", "benchmark"};
constexpr const char* kOptionKeys[] = {"return_to_end", "objective",       "time_limit",
                                       "wall_time_limit",
                                       "missing_cost",  "memory_limit_mb", "improve",
                                       "seed",          "max_iterations",
                                       "max_no_improvement", "enforce_capacity", "enforce_precedence",
                                       "schedule", "threads"};

template <size_t N>
void WarnAboutUnknownKeys(const json& object, const char* const (&known)[N], const char* where) {
  if (!object.is_object()) return;
  for (const auto& member : object.items()) {
    const std::string& key = member.key();
    if (std::find(std::begin(known), std::end(known), key) != std::end(known)) continue;
    ConsoleWarning(console_code::kUnknownKey, {{"key", key}}, "[warning] unknown key \"", key, "\" ", where,
                   " is ignored");
  }
}

// The payload array of a constraint, or nullptr when it has none.
const json* Payload(const json& constraint, const char* name, KeyInReading& key) {
  const json* payload = key.Find(constraint, name);
  return payload ? &RequireArray(*payload) : nullptr;
}

void ReadConstraint(const json& constraint, ConstraintSet& out, KeyInReading& key,
                    ConstraintPlace& place) {
  const std::string kind = key.At(constraint, "kind").get<std::string>();
  place.kind = kind;
  const auto enter = [&](size_t index, const json& item) {
    place.item = index;
    place.element = &item;
  };
  if (kind == "assignment") {
    const json* items = Payload(constraint, "items", key);
    if (!items) return;
    for (size_t i = 0; i < items->size(); ++i) {
      const json& item = (*items)[i];
      enter(i, item);
      const uint64_t node = ToUint64(key.At(item, "node"));
      out.assignment.set_assignment(node, key.At(item, "types").get<std::vector<std::string>>());
    }
  } else if (kind == "timewindow") {
    const json* items = Payload(constraint, "items", key);
    if (!items) return;
    for (size_t i = 0; i < items->size(); ++i) {
      const json& item = (*items)[i];
      enter(i, item);
      const uint64_t node = ToUint64(key.At(item, "node"));
      const double start = key.At(item, "start").get<double>();
      const double end = key.At(item, "end").get<double>();
      out.timewindow.set_timewindow(node, start, end);
    }
  } else if (kind == "sequence") {
    const json* pairs = Payload(constraint, "precedence", key);
    if (!pairs) return;
    for (size_t i = 0; i < pairs->size(); ++i) {
      const json& item = (*pairs)[i];
      enter(i, item);
      const uint64_t before = ToUint64(key.At(item, "before"));
      const uint64_t after = ToUint64(key.At(item, "after"));
      const json* type = key.Find(item, "type");
      const std::string type_name = type ? type->get<std::string>() : std::string();
      PrecedencePairs& target = type_name == "same"   ? out.precedence_same
                                : type_name == "diff" ? out.precedence_diff
                                                      : out.precedence;
      target.emplace_back(before, after);
    }
  } else {
    ConsoleWarning(console_code::kUnknownConstraintKind, {{"kind", kind}}, "[warning] unknown constraint kind \"",
                   kind, "\" is ignored (known kinds: assignment, timewindow, sequence)");
  }
}

// Every field is assigned; value() rejects anything but an object.
void ReadOptions(const json& options, Options& out, KeyInReading& key) {
  out.return_to_end = key.Value(options, "return_to_end", true);
  const std::string objective = key.Value(options, "objective", std::string("min_sum"));
  out.objective = (objective == "min_max" || objective == "MIN_MAX") ? ObjectiveType::MinMax
                                                                     : ObjectiveType::MinSum;
  if (objective != "min_max" && objective != "MIN_MAX" && objective != "min_sum" &&
      objective != "MIN_SUM") {
    ConsoleWarning(console_code::kUnknownObjective, {{"objective", objective}}, "[warning] unknown objective \"",
                   objective, "\"; using min_sum (known objectives: min_max, min_sum)");
  }
  out.time_limit = key.Value(options, "time_limit", 60.0);
  out.wall_time_limit = key.Value(options, "wall_time_limit", 0.0);
  out.memory_limit_mb = key.Value(options, "memory_limit_mb", DefaultMemoryLimitMb());
  out.improve = key.Value(options, "improve", false);
  out.seed = OptionalInt64Option(options, "seed", key);
  out.max_iterations = OptionalInt64Option(options, "max_iterations", key);
  out.max_no_improvement = OptionalInt64Option(options, "max_no_improvement", key);
  out.missing_cost = key.Value(options, "missing_cost", kNoConnection);
  out.enforce_capacity = key.Value(options, "enforce_capacity", false);
  out.enforce_precedence = key.Value(options, "enforce_precedence", false);
  out.schedule = key.Value(options, "schedule", false);
  const json* threads = key.Find(options, "threads");
  out.threads = threads ? ToInt64Option(*threads, "threads") : 1;
}

// "nodes[1] (node 20)": an array's element, with its id when it has one the
// reader takes.
std::string ElementName(const char* array, size_t index, const json& element, const char* word) {
  std::string name = std::string(array) + "[" + std::to_string(index) + "]";
  if (element.is_object()) {
    const auto id = element.find("id");
    if (id != element.end() && (id->is_number() || id->is_boolean())) {
      name += std::string(" (") + word + " " + std::to_string(ToUint64(*id)) + ")";
    }
  }
  return name;
}

// A refusal of the JSON library said for a person, naming the element
// `where` it arose in (`element` itself) and the key looked up last.
std::string DescribeRefusal(const json::exception& error, const std::string& where,
                            const json& element, const std::string& key) {
  switch (error.id) {
    case 403:  // a required key is missing
      return where + " has no key '" + key + "'";
    case 304:  // a key looked up in something that is not an object
    case 306:
      return where + " must be an object, but is " + element.type_name();
    default: {
      const std::string text = error.what();
      const size_t tag_end = text.find("] ");
      const std::string detail = tag_end == std::string::npos ? text : text.substr(tag_end + 2);
      return where + (key.empty() ? std::string() : ", key \"" + key + "\"") + ": " + detail;
    }
  }
}

}  // namespace

void ParseProblemJson(const json& doc, Problem& problem, std::string* refusal) {
  WarnAboutUnknownKeys(doc, kDocumentKeys, "in the instance document");
  KeyInReading key;
  // Says where the JSON library's exception being handled arose, in `refusal`.
  const auto note = [&](const json::exception& error, const std::string& where, const json& element) {
    if (refusal != nullptr) *refusal = DescribeRefusal(error, where, element, key.name);
  };
  // The document's member `name`, which must be an array unless `any` is set.
  const auto member = [&](const char* name, bool any = false) -> const json& {
    try {
      const json& value = key.At(doc, name);
      return any ? value : RequireArray(value);
    } catch (const json::exception& error) {
      note(error, "the document", doc);
      throw;
    }
  };

  const json& nodes = member("nodes");
  for (size_t i = 0; i < nodes.size(); ++i) {
    key = {};
    try {
      problem.add_node(ReadNode(nodes[i], key));
    } catch (const json::exception& error) {
      note(error, ElementName("nodes", i, nodes[i], "node"), nodes[i]);
      throw;
    }
  }

  const json& agents = member("agents");
  for (size_t i = 0; i < agents.size(); ++i) {
    key = {};
    try {
      const Agent agent = ReadAgent(agents[i], key);
      problem.add_agent(agent, agent.id);
    } catch (const json::exception& error) {
      note(error, ElementName("agents", i, agents[i], "agent"), agents[i]);
      throw;
    }
  }

  if (doc.contains("costs")) {
    const json& costs = member("costs", true);  // ReadCosts decides
    try {
      ReadCosts(costs, problem, key);
    } catch (const json::exception& error) {
      // A value that is neither an object nor an array is refused as the document's.
      const bool named = costs.is_object() || costs.is_array();
      note(error, named ? "\"costs\"" : "the document", named ? costs : doc);
      throw;
    }
  }

  ConstraintSet constraints;
  if (doc.contains("constraints")) {
    const json& list = member("constraints");
    for (size_t i = 0; i < list.size(); ++i) {
      key = {};
      ConstraintPlace place;
      try {
        ReadConstraint(list[i], constraints, key, place);
      } catch (const json::exception& error) {
        std::string where = "constraints[" + std::to_string(i) + "]";
        if (!place.kind.empty()) where += " (\"" + place.kind + "\")";
        if (place.item) where += ", item " + std::to_string(*place.item);
        note(error, where, place.element ? *place.element : list[i]);
        throw;
      }
    }
  }
  problem.assignment_constraint = std::move(constraints.assignment);
  problem.timewindow_constraint = std::move(constraints.timewindow);
  problem.precedence = std::move(constraints.precedence);
  problem.precedence_same = std::move(constraints.precedence_same);
  problem.precedence_diff = std::move(constraints.precedence_diff);

  if (doc.contains("options")) {
    const json& options = doc.at("options");
    WarnAboutUnknownKeys(options, kOptionKeys, "in \"options\"");
    key = {};
    try {
      ReadOptions(options, problem.options, key);
    } catch (const json::exception& error) {
      note(error, "\"options\"", options);
      throw;
    }
  }
}

}  // namespace tarsel
