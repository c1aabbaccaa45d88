#include "engine/population.h"

namespace tarsel {

bool Population::Offer(const Solution& solution) {
  if (!solution.Complete()) return false;
  for (const Solution& member : members_) {
    if (member.SameRoutes(solution)) return false;
  }
  if (members_.size() < capacity_) {
    members_.push_back(solution);
    return true;
  }
  const size_t worst = Worst();
  if (!Improves(solution.Value(), members_[worst].Value(), min_max_)) return false;
  members_[worst] = solution;
  return true;
}

size_t Population::Worst() const {
  size_t worst = 0;
  for (size_t i = 1; i < members_.size(); ++i) {
    if (Improves(members_[worst].Value(), members_[i].Value(), min_max_)) worst = i;
  }
  return worst;
}

const Solution& Population::Best() const {
  size_t best = 0;
  for (size_t i = 1; i < members_.size(); ++i) {
    if (Improves(members_[i].Value(), members_[best].Value(), min_max_)) best = i;
  }
  return members_[best];
}

const Solution& Population::Tournament(Random& random) const {
  const size_t a = random.Below(members_.size());
  const size_t b = random.Below(members_.size());
  return Improves(members_[b].Value(), members_[a].Value(), min_max_) ? members_[b] : members_[a];
}

}  // namespace tarsel
