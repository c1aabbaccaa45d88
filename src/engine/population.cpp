#include "engine/population.h"

namespace tarsel {

Population::Population(const RouteRules& rules, bool min_max, const SubPopulationSizes& sizes)
    : pairs_(rules), feasible_(min_max, sizes), infeasible_(min_max, sizes) {}

bool Population::Offer(const Solution& solution) {
  if (!solution.Complete()) return false;
  pairs_.Keys(solution, keys_);
  return (solution.Feasible() ? feasible_ : infeasible_).Add(solution, keys_);
}

size_t Population::Pick(Random& random, SubPopulation*& part) {
  const size_t index = random.Below(Size());
  if (index < feasible_.Size()) {
    part = &feasible_;
    return index;
  }
  part = &infeasible_;
  return index - feasible_.Size();
}

const Solution& Population::Tournament(Random& random) {
  SubPopulation* first_part = nullptr;
  SubPopulation* second_part = nullptr;
  const size_t first = Pick(random, first_part);
  const size_t second = Pick(random, second_part);
  const bool take_second = second_part->Fitness(second) < first_part->Fitness(first);
  return take_second ? second_part->Member(second) : first_part->Member(first);
}

void Population::Clear() {
  feasible_.Clear();
  infeasible_.Clear();
}

void Population::SetSizes(const SubPopulationSizes& sizes) {
  feasible_.SetSizes(sizes);
  infeasible_.SetSizes(sizes);
}

size_t Population::MemberBytes(const RouteRules& rules, const SubPopulationSizes& sizes) {
  const size_t targets = rules.Targets().size();
  const size_t most = sizes.survivors + sizes.generation + 1;
  return Solution::CopyBytes(rules.NumNodes(), rules.NumAgents(), targets) + targets * sizeof(uint32_t) +
         most * sizeof(double) + sizeof(std::vector<double>) + 64;
}

}  // namespace tarsel
