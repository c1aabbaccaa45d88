#include "engine/subpopulation.h"

#include <algorithm>

namespace tarsel {

bool SubPopulation::Add(const Solution& solution, const std::vector<uint32_t>& keys) {
  const size_t size = members_.size();
  std::vector<double> row(size + 1, 0.0);
  for (size_t i = 0; i < size; ++i) {
    row[i] = BrokenPairs::Distance(keys, members_[i].keys);
    if (row[i] == 0.0) return false;  // a clone
  }
  for (size_t i = 0; i < size; ++i) distance_[i].push_back(row[i]);
  distance_.push_back(std::move(row));
  members_.push_back(Entry{solution, keys, solution.Value()});
  fitness_current_ = false;
  if (members_.size() > sizes_.survivors + sizes_.generation) {
    while (members_.size() > std::max<size_t>(1, sizes_.survivors)) {
      UpdateFitness();
      size_t worst = 0;
      for (size_t i = 1; i < members_.size(); ++i) {
        if (fitness_[i] > fitness_[worst]) worst = i;
      }
      Remove(worst);
    }
  }
  return true;
}

void SubPopulation::Remove(size_t index) {
  members_.erase(members_.begin() + static_cast<std::ptrdiff_t>(index));
  distance_.erase(distance_.begin() + static_cast<std::ptrdiff_t>(index));
  for (std::vector<double>& row : distance_) row.erase(row.begin() + static_cast<std::ptrdiff_t>(index));
  fitness_current_ = false;
}

bool SubPopulation::CostLess(size_t a, size_t b) const {
  return RanksBefore(members_[a].value, members_[b].value, min_max_);
}

void SubPopulation::UpdateFitness() {
  if (fitness_current_) return;
  const size_t size = members_.size();
  fitness_.assign(size, 0.0);
  fitness_current_ = true;
  if (size <= 1) return;
  // Diversity contribution: mean distance to the closest others.
  diversity_.assign(size, 0.0);
  const size_t closest = std::min(std::max<size_t>(1, sizes_.closest), size - 1);
  for (size_t i = 0; i < size; ++i) {
    nearest_.clear();
    for (size_t j = 0; j < size; ++j) {
      if (j != i) nearest_.push_back(distance_[i][j]);
    }
    std::nth_element(nearest_.begin(), nearest_.begin() + static_cast<std::ptrdiff_t>(closest - 1),
                     nearest_.end());
    double sum = 0.0;
    for (size_t c = 0; c < closest; ++c) sum += nearest_[c];
    diversity_[i] = sum / static_cast<double>(closest);
  }
  const double scale = 1.0 / static_cast<double>(size - 1);
  const double weight =
      std::max(0.0, 1.0 - static_cast<double>(sizes_.elite) / static_cast<double>(size));
  order_.resize(size);
  for (size_t i = 0; i < size; ++i) order_[i] = i;
  std::stable_sort(order_.begin(), order_.end(), [this](size_t a, size_t b) { return CostLess(a, b); });
  for (size_t rank = 0; rank < size; ++rank) fitness_[order_[rank]] = static_cast<double>(rank) * scale;
  for (size_t i = 0; i < size; ++i) order_[i] = i;
  std::stable_sort(order_.begin(), order_.end(),
                   [this](size_t a, size_t b) { return diversity_[a] > diversity_[b]; });
  for (size_t rank = 0; rank < size; ++rank) fitness_[order_[rank]] += weight * static_cast<double>(rank) * scale;
}

double SubPopulation::Fitness(size_t index) {
  UpdateFitness();
  return fitness_[index];
}

size_t SubPopulation::Best() const {
  size_t best = members_.size();
  for (size_t i = 0; i < members_.size(); ++i) {
    if (best == members_.size() || CostLess(i, best)) best = i;
  }
  return best;
}

void SubPopulation::Recost(const PenaltyWeights& weights) {
  for (Entry& member : members_) {
    member.solution.Recost(weights);
    member.value = member.solution.Value();
  }
  fitness_current_ = false;
}

void SubPopulation::Clear() {
  members_.clear();
  distance_.clear();
  fitness_.clear();
  fitness_current_ = false;
}

size_t SubPopulation::MemoryBytes() const {
  size_t bytes = members_.capacity() * sizeof(Entry) + distance_.capacity() * sizeof(std::vector<double>);
  for (const Entry& member : members_) {
    bytes += member.solution.MemoryBytes() + member.keys.capacity() * sizeof(uint32_t);
  }
  for (const std::vector<double>& row : distance_) bytes += row.capacity() * sizeof(double);
  return bytes;
}

}  // namespace tarsel
