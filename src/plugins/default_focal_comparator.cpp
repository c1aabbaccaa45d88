#include "plugins/default_focal_comparator.h"

namespace tarsel {

bool DefaultFocalComparator::Compare(const FocalEntry& a, const FocalEntry& b) const {
  if (a.visited_count != b.visited_count) return a.visited_count > b.visited_count;
  if (a.f != b.f) return a.f < b.f;
  return a.total_cost < b.total_cost;
}

}  // namespace tarsel
