#pragma once

#include <cstdint>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace tarsel {

enum class ConsoleStream { kOut, kErr };

// What a console line is about, so that a caller can route it: a finding
// about the input the user may want to fix (kWarning), a stop of the solve
// before its end (kStop), a fault inside the core (kError), a note on the
// solve (kInfo), a step of the search (kProgress), a detailed listing
// (kDebug).
enum class ConsoleKind { kDebug, kInfo, kProgress, kWarning, kStop, kError };

// The lower-case name of `kind` ("debug", "info", ...).
const char* ConsoleKindName(ConsoleKind kind);

// Machine-readable codes of the lines a caller reacts to or filters by; a
// line without one has an empty code. Stable names: callers compare them.
namespace console_code {
inline constexpr std::string_view kUnknownKey = "unknown_key";
inline constexpr std::string_view kUnknownConstraintKind = "unknown_constraint_kind";
inline constexpr std::string_view kUnknownObjective = "unknown_objective";
// Fields "node" (its id) and "nodes" (the count of nodes).
inline constexpr std::string_view kNoAssignment = "no_assignment";
inline constexpr std::string_view kUnknownAssignmentNode = "unknown_assignment_node";
inline constexpr std::string_view kUnknownAssignmentType = "unknown_assignment_type";
inline constexpr std::string_view kUnknownSequenceNode = "unknown_sequence_node";
inline constexpr std::string_view kUnknownTimeWindowNode = "unknown_time_window_node";
inline constexpr std::string_view kCostsAboveMissing = "costs_above_missing";
inline constexpr std::string_view kUnreachableNode = "unreachable_node";
inline constexpr std::string_view kAgentBlocked = "agent_blocked";
inline constexpr std::string_view kNodeUnservable = "node_unservable";
// Fields "blocked" and "pairs" (counts of node pairs) and "time_windows"
// (whether the instance has any).
inline constexpr std::string_view kBlockedPairs = "blocked_pairs";
inline constexpr std::string_view kLargeInstance = "large_instance";
// The demands bind, so the engine alone solves (the focal search holds no load).
inline constexpr std::string_view kCapacitiesBind = "capacities_bind";
// Enforced precedence pairs, so the engine alone solves.
inline constexpr std::string_view kPairsEnforced = "pairs_enforced";
// Fields "before" and "after": the node ids of a precedence pair no schedule can satisfy.
inline constexpr std::string_view kPairUnsatisfiable = "pair_unsatisfiable";
// Field "option": the option that would enforce what the document carries.
inline constexpr std::string_view kNotEnforced = "not_enforced";
inline constexpr std::string_view kSearchExhausted = "search_exhausted";
inline constexpr std::string_view kMemoryStop = "memory_stop";
inline constexpr std::string_view kInterrupted = "interrupted";
}  // namespace console_code

// A named value a line carries besides its text (a node id, a count).
using ConsoleValue = std::variant<bool, std::uint64_t, double, std::string>;
using ConsoleFields = std::vector<std::pair<std::string, ConsoleValue>>;

// One console line: where it goes by default, its kind and code, the values
// a caller needs, and its exact text (without the newline). `flush` is false
// within long listings.
struct ConsoleRecord {
  ConsoleStream stream = ConsoleStream::kErr;
  ConsoleKind kind = ConsoleKind::kInfo;
  std::string_view code;
  ConsoleFields fields;
  std::string text;
  bool flush = true;
};

// Where the core's console lines go. The default sink writes each text with
// a newline to standard output or standard error and flushes when asked;
// the Python module and tests install their own sink to take the records.
class ConsoleSink {
 public:
  virtual ~ConsoleSink() = default;
  virtual void Write(const ConsoleRecord& record) = 0;
};

// The sink in use on the calling thread (the standard streams unless
// replaced). Each thread has its own, so that solves on different threads
// do not take each other's lines.
ConsoleSink& Console();
// Installs `sink` on the calling thread (nullptr restores the standard
// streams); returns the previous one.
ConsoleSink* SetConsoleSink(ConsoleSink* sink);

// The text of the pieces, formatted as an ostream formats them.
template <class... Pieces>
std::string ConsoleText(const Pieces&... pieces) {
  std::ostringstream text;
  (text << ... << pieces);
  return text.str();
}

// Writes one line without a code.
template <class... Pieces>
void ConsoleLine(ConsoleStream stream, ConsoleKind kind, const Pieces&... pieces) {
  Console().Write(ConsoleRecord{stream, kind, {}, {}, ConsoleText(pieces...), true});
}

// Writes one line with a code and its fields.
template <class... Pieces>
void ConsoleCodedLine(ConsoleStream stream, ConsoleKind kind, std::string_view code, ConsoleFields fields,
                      const Pieces&... pieces) {
  Console().Write(ConsoleRecord{stream, kind, code, std::move(fields), ConsoleText(pieces...), true});
}

// Writes one warning about the input, with its code and fields, to
// standard error.
template <class... Pieces>
void ConsoleWarning(std::string_view code, ConsoleFields fields, const Pieces&... pieces) {
  ConsoleCodedLine(ConsoleStream::kErr, ConsoleKind::kWarning, code, std::move(fields), pieces...);
}

// As ConsoleLine, without flushing (for long listings).
template <class... Pieces>
void ConsoleLineUnflushed(ConsoleStream stream, ConsoleKind kind, const Pieces&... pieces) {
  Console().Write(ConsoleRecord{stream, kind, {}, {}, ConsoleText(pieces...), false});
}

}  // namespace tarsel
