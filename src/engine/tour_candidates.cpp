#include "engine/tour_candidates.h"

#include <cmath>
#include <tuple>

namespace tarsel {

namespace {

// The subgradient ascent: the step is Polyak's, lambda x (goal - length) /
// |degrees - 2|^2, towards a goal a ninth above the first 1-tree (about
// where good tours lie: the spanning-tree bound is about a tenth below
// them); lambda halves after this many iterations without a longer 1-tree.
constexpr size_t kAscentPatience = 5;
constexpr double kAscentGoal = 10.0 / 9.0;

}  // namespace

size_t TourCandidates::Bytes(size_t nodes, size_t types, size_t count) {
  // The lists, and per type the penalties; the ascent's and alpha's buffers
  // (tree, keys, path maxima, marks, alphas, penalties, steps, ranking).
  return types * nodes * count * sizeof(size_t) + types * nodes * sizeof(double) +
         16 * nodes * sizeof(double);
}

TourCandidates::TourCandidates(const RouteRules& rules, const GranularNeighbours& nearest, size_t count,
                               size_t ascent, const std::function<bool()>& stop) {
  const std::vector<size_t>& targets = rules.Targets();
  const size_t n = targets.size();
  const size_t slots = nearest.Types().size();
  const InstanceTables& tables = rules.Tables();
  nodes_ = rules.NumNodes();
  count_ = std::min(count, nearest.Count());
  lists_.assign(slots * nodes_ * count_, 0);
  by_alpha_.assign(slots, 0);
  pi_.assign(slots, std::vector<double>());
  OneTree tree;
  std::vector<double> key, beta, alpha, pi, best_pi, step, previous;
  std::vector<size_t> mark;
  std::vector<std::tuple<double, double, size_t>> ranked;
  for (size_t slot = 0; slot < slots; ++slot) {
    const size_t type = nearest.Types()[slot];
    bool applicable = n >= 3 && count_ > 0;
    for (size_t i = 0; i < n && applicable; ++i) {
      for (size_t j = i + 1; j < n && applicable; ++j) {
        const double there = tables.Cost(type, targets[i], targets[j]);
        applicable = there == tables.Cost(type, targets[j], targets[i]) && tables.Connected(there);
      }
    }
    const auto keep_nearest = [&] {
      for (const size_t u : targets) {
        std::copy(nearest.Begin(slot, u), nearest.Begin(slot, u) + count_, &lists_[(slot * nodes_ + u) * count_]);
      }
    };
    const auto stopped = [&] { return stop && stop(); };
    if (!applicable || stopped()) {
      keep_nearest();
      continue;
    }
    pi.assign(n, 0.0);
    auto shifted = [&](size_t i, size_t j) { return tables.Cost(type, targets[i], targets[j]) + pi[i] + pi[j]; };
    auto bound = [&] {
      double sum = 0;
      for (const double p : pi) sum += p;
      return tree.length - 2 * sum;
    };
    MinimumOneTree(n, 0, shifted, tree, key);
    double best = bound();
    const double goal = kAscentGoal * best;
    best_pi = pi;
    previous.assign(n, 0.0);
    double lambda = 1.0;
    size_t stale = 0;
    bool cut_short = false;
    for (size_t iteration = 0; iteration < ascent; ++iteration) {
      if (stopped()) {
        cut_short = true;
        break;
      }
      double norm = 0;
      for (size_t i = 0; i < n; ++i) norm += static_cast<double>((tree.degree[i] - 2) * (tree.degree[i] - 2));
      if (norm == 0) break;  // the 1-tree is a tour
      const double t = lambda * (goal - bound()) / norm;
      if (!(t > 0)) break;
      for (size_t i = 0; i < n; ++i) {
        const double v = tree.degree[i] - 2;
        pi[i] += t * (0.7 * v + 0.3 * previous[i]);
        previous[i] = v;
      }
      MinimumOneTree(n, 0, shifted, tree, key);
      const double w = bound();
      if (w > best) {
        best = w;
        best_pi = pi;
        stale = 0;
      } else if (++stale >= kAscentPatience) {
        lambda /= 2;
        stale = 0;
      }
    }
    if (cut_short) {
      keep_nearest();
      continue;
    }
    pi = best_pi;
    MinimumOneTree(n, 0, shifted, tree, key);
    for (size_t i = 0; i < n; ++i) {
      if (i % 64 == 0 && stopped()) {
        cut_short = true;
        break;
      }
      AlphaRow(tree, i, shifted, alpha, beta, mark);
      ranked.clear();
      for (size_t j = 0; j < n; ++j) {
        if (j != i) ranked.emplace_back(alpha[j], tables.Cost(type, targets[i], targets[j]), targets[j]);
      }
      std::partial_sort(ranked.begin(), ranked.begin() + static_cast<std::ptrdiff_t>(count_), ranked.end());
      size_t* out = &lists_[(slot * nodes_ + targets[i]) * count_];
      for (size_t c = 0; c < count_; ++c) out[c] = std::get<2>(ranked[c]);
    }
    if (cut_short) {
      keep_nearest();
      continue;
    }
    by_alpha_[slot] = 1;
    pi_[slot] = pi;
  }
}

}  // namespace tarsel
