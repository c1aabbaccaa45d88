#include "search/frontier.h"

#include <algorithm>
#include <utility>

namespace tarsel {

namespace {

// a dominates b: no worse objective, no agent costs more, covers b's nodes.
// Agents are those of a's cost vector.
// A label in which more routes have ended is never dominated by one in which
// they have not: ending a route where the agent stands changes nothing else,
// so without this rule the parent would discard that move and an agent with
// nothing to visit could never finish. The inline fields are tested before
// the per-agent vectors, which live behind pointers.
bool Dominates(const Label& a, const Label& b) {
  if (!(a.g <= b.g) || !a.visited.Contains(b.visited)) return false;
  for (size_t k = 0; k < a.costs.size(); ++k) {
    if (!(a.costs[k] <= b.costs[k])) return false;
  }
  const size_t flags = std::min(a.finished.size(), b.finished.size());
  for (size_t k = 0; k < flags; ++k) {
    if (b.finished[k] > a.finished[k]) return false;
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
