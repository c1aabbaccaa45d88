#include "search/frontier.h"

#include <utility>

namespace tarsel {

namespace {

// a dominates b: no worse objective, no agent costs more, covers b's nodes.
// Agents are those of a's cost vector.
// The inline fields are tested before the per-agent costs, which live
// behind a pointer.
bool Dominates(const Label& a, const Label& b) {
  if (!(a.g <= b.g) || !a.visited.Contains(b.visited)) return false;
  for (size_t k = 0; k < a.costs.size(); ++k) {
    if (!(a.costs[k] <= b.costs[k])) return false;
  }
  return true;
}

}  // namespace

bool Frontier::IsDominated(const Label& label) const {
  for (const Label& entry : entries) {
    if (Dominates(entry, label)) return true;
  }
  return false;
}

int Frontier::Insert(const Label& label) {
  size_t alive = entries.size();
  for (size_t i = entries.size(); i-- > 0;) {
    if (Dominates(label, entries[i])) {
      --alive;
      if (i != alive) std::swap(entries[i], entries[alive]);
    }
  }
  const int removed = static_cast<int>(entries.size() - alive);
  entries.resize(alive);
  entries.push_back(label);
  return removed;
}

}  // namespace tarsel
