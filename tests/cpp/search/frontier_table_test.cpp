#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <random>
#include <vector>

#include "search/frontier_table.h"
#include "search/label_store.h"

namespace tarsel {
namespace {

// The dominance rule spelt out over whole labels: no larger g, every route
// ended in `b` ended in `a`, a covers b's nodes, both agree on the exact
// nodes, and no agent costs more.
bool Dominates(const Label& a, const Label& b, const VisitedSet& exact) {
  if (!(a.g <= b.g)) return false;
  for (size_t k = 0; k < a.costs.size(); ++k) {
    if (b.finished[k] != 0 && a.finished[k] == 0) return false;
    if (!(a.costs[k] <= b.costs[k])) return false;
  }
  for (size_t i = 0; i < VisitedSet::kBits; ++i) {
    if (exact.Test(i) && a.visited.Test(i) != b.visited.Test(i)) return false;
  }
  return a.visited.Contains(b.visited);
}

// Frontiers as plain lists of labels per configuration.
struct ReferenceFrontiers {
  bool IsDominated(const Label& label) const {
    const auto found = lists.find(label.current_nodes);
    if (found == lists.end()) return false;
    for (const Label& entry : found->second) {
      if (Dominates(entry, label, exact)) return true;
    }
    return false;
  }
  int Insert(const Label& label) {
    std::vector<Label>& list = lists[label.current_nodes];
    int removed = 0;
    std::vector<Label> kept;
    for (const Label& entry : list) {
      if (Dominates(label, entry, exact)) {
        ++removed;
      } else {
        kept.push_back(entry);
      }
    }
    kept.push_back(label);
    list = kept;
    return removed;
  }
  size_t NumEntries() const {
    size_t n = 0;
    for (const auto& list : lists) n += list.second.size();
    return n;
  }
  std::map<std::vector<size_t>, std::vector<Label>> lists;
  VisitedSet exact;
};

// Costs close together: several differ by less than a float can tell, so
// the summaries' rounding is exercised; some beyond the largest float; a
// NaN now and then.
double RandomCost(std::mt19937& rng) {
  static const double kBases[] = {0.0,           1.0,    7.25,     1000.0, 1000.0 + 1e-9,
                                  1000.0 + 3e-5, 123456.789, 3.5e38, 1e300};
  std::uniform_int_distribution<int> base(0, 8);
  std::uniform_int_distribution<int> step(0, 3);
  std::uniform_int_distribution<int> rare(0, 199);
  if (rare(rng) == 0) return std::numeric_limits<double>::quiet_NaN();
  return kBases[base(rng)] + step(rng) * 1e-10;
}

// Random labels of a search with `num_nodes` nodes, positions from a few
// configurations so that frontiers grow long; as in a search, bits from
// num_nodes up are set, except in some labels (one of those bits missing,
// or all), which the table must not judge by its summaries alone.
Label RandomLabel(std::mt19937& rng, size_t agents, int32_t num_nodes) {
  std::uniform_int_distribution<int> coin(0, 99);
  std::uniform_int_distribution<size_t> node(0, static_cast<size_t>(num_nodes) - 1);
  Label label;
  label.num_nodes = num_nodes;
  label.current_nodes.assign(agents, 0);
  label.current_nodes[0] = static_cast<size_t>(coin(rng) % 3);
  label.costs.resize(agents);
  label.finished.assign(agents, 0);
  double sum = 0;
  for (size_t k = 0; k < agents; ++k) {
    label.costs[k] = RandomCost(rng);
    sum += label.costs[k];
    if (coin(rng) < 10) label.finished[k] = 1;
  }
  label.g = coin(rng) < 50 ? sum : label.costs[0];
  // A few nodes out of a small pool, so that subsets are common.
  const size_t pool = static_cast<size_t>(std::min<int32_t>(num_nodes, 12));
  for (size_t i = 0; i < pool; ++i) {
    if (coin(rng) < 40) label.visited.Set(i * static_cast<size_t>(num_nodes) / pool);
  }
  if (coin(rng) < 20) label.visited.Set(node(rng));
  const int rest = coin(rng);
  if (rest < 95) label.visited.SetFrom(static_cast<size_t>(num_nodes));
  if (rest >= 85 && rest < 95 && num_nodes < 256) {
    std::uniform_int_distribution<size_t> above(static_cast<size_t>(num_nodes), 255);
    label.visited.Reset(above(rng));
  }
  return label;
}

// Every answer of the table (dominated or not, entries removed, entries
// left) equals the plain rule's, for node counts with exact and with
// folded visited summaries, for odd and even agent counts, and with and
// without nodes compared exactly (two of the pool the labels draw from).
TEST(FrontierTable, AnswersAsThePlainDominanceRule) {
  for (const int32_t num_nodes : {10, 76, 128, 129, 200, 256}) {
    for (const bool with_exact : {false, true}) {
      // Exact nodes once with exact and once with folded summaries.
      if (with_exact && num_nodes != 10 && num_nodes != 129) continue;
      VisitedSet exact;
      if (with_exact) {
        const size_t pool = static_cast<size_t>(std::min<int32_t>(num_nodes, 12));
        exact.Set(1 * static_cast<size_t>(num_nodes) / pool);
        exact.Set(5 * static_cast<size_t>(num_nodes) / pool);
      }
      for (const size_t agents : {1, 2, 5, 7}) {
        std::mt19937 rng(static_cast<unsigned>(num_nodes * 31 + static_cast<int>(agents)));
        LabelStore store;
        store.Reset(agents, num_nodes);
        FrontierTable table;
        table.Reset(&store, exact);
        ReferenceFrontiers reference;
        reference.exact = exact;
        int dominated = 0;
        int removed = 0;
        for (int step = 0; step < 3000; ++step) {
          Label label = RandomLabel(rng, agents, num_nodes);
          const bool expected = reference.IsDominated(label);
          ASSERT_EQ(table.IsDominated(label), expected)
              << num_nodes << " nodes, " << agents << " agents, step " << step;
          dominated += expected ? 1 : 0;
          if (expected) continue;
          label.id = store.Allocate();
          store.Put(label, -1);
          const int reference_removed = reference.Insert(label);
          ASSERT_EQ(table.Insert(label), reference_removed)
              << num_nodes << " nodes, " << agents << " agents, step " << step;
          removed += reference_removed;
          ASSERT_EQ(table.NumEntries(), reference.NumEntries());
        }
        // The run covers both answers and removals, not only one side.
        // Exact nodes leave fewer labels dominated.
        EXPECT_GT(dominated, with_exact ? 25 : 50) << num_nodes << " nodes, " << agents << " agents";
        EXPECT_GT(removed, 10) << num_nodes << " nodes, " << agents << " agents";
      }
    }
  }
}

}  // namespace
}  // namespace tarsel
