#include "engine/order_crossover.h"

#include <algorithm>
#include <utility>

#include "common/special_values.h"

namespace tarsel {

void OrderCrossover(const std::vector<size_t>& first, const std::vector<size_t>& second, Random& random,
                    std::vector<char>& used, std::vector<size_t>& child) {
  const size_t n = first.size();
  child.assign(n, kNoIndex);
  if (n == 0) return;
  size_t from = random.Below(n);
  size_t to = random.Below(n);
  if (from > to) std::swap(from, to);
  std::fill(used.begin(), used.end(), 0);
  for (size_t i = from; i <= to; ++i) {
    child[i] = first[i];
    used[first[i]] = 1;
  }
  size_t write = (to + 1) % n;
  for (size_t step = 0; step < n; ++step) {
    const size_t node = second[(to + 1 + step) % n];
    if (used[node] != 0) continue;
    child[write] = node;
    used[node] = 1;
    write = (write + 1) % n;
  }
}

}  // namespace tarsel
