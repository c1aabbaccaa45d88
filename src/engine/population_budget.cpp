#include "engine/population_budget.h"

#include <algorithm>
#include <cmath>

namespace tarsel {

SubPopulationSizes FitPopulationSizes(const SubPopulationSizes& wanted, double budget_bytes,
                                      size_t fixed_bytes, size_t member_bytes, bool& fits) {
  fits = true;
  const size_t largest = wanted.survivors + wanted.generation + 1;
  const double room = budget_bytes - static_cast<double>(fixed_bytes);
  const double per_part = room / (2.0 * static_cast<double>(std::max<size_t>(1, member_bytes)));
  if (!(per_part < static_cast<double>(largest))) return wanted;  // an infinite budget included
  const size_t members = per_part > 0 ? static_cast<size_t>(std::floor(per_part)) : 0;
  // Each part holds survivors + generation + 1 members at its largest.
  if (members < 2) {
    fits = false;
    return SubPopulationSizes{1, 0, wanted.elite, wanted.closest};
  }
  SubPopulationSizes sizes = wanted;
  const size_t spare = members - 1;  // survivors + generation
  sizes.generation = std::max<size_t>(1, spare * wanted.generation / (wanted.survivors + wanted.generation));
  sizes.survivors = std::max<size_t>(1, spare - sizes.generation);
  if (sizes.survivors + sizes.generation > spare) sizes.generation = spare - sizes.survivors;
  sizes.elite = std::min(sizes.elite, sizes.survivors);
  return sizes;
}

}  // namespace tarsel
