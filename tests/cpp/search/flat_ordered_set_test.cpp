#include "search/flat_ordered_set.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <limits>
#include <random>
#include <set>
#include <sstream>
#include <tuple>
#include <utility>
#include <vector>

#include "common/focal_entry.h"

namespace tarsel {
namespace {

using Rng = std::mt19937_64;

int Uniform(Rng& rng, int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); }

// ---------------------------------------------------------------------------
// Element types and orders, each with what the differential driver needs:
// a random element from a small domain (so that equal and equivalent
// elements are frequent), an element equivalent to a given one, a random
// removal predicate, and the element's fields for exact comparison.

// Orders integers ascending or, as chosen at construction, descending.
struct DirectedLess {
  bool descending = false;
  bool operator()(int a, int b) const { return descending ? b < a : a < b; }
};

// Integers below 2000 in either order.
template <bool Descending>
struct IntCase {
  using T = int;
  using Less = DirectedLess;
  static Less MakeLess() { return Less{Descending}; }
  static T Random(Rng& rng) { return Uniform(rng, 0, 1999); }
  static T Equivalent(const T& x, Rng&) { return x; }
  static auto Predicate(Rng& rng) {
    const int mod = Uniform(rng, 2, 7);
    const int rest = Uniform(rng, 0, mod - 1);
    return [mod, rest](const T& x) { return x % mod == rest; };
  }
  static std::tuple<int> Fields(const T& x) { return {x}; }
};

// The open list's (f, label id) pairs: few distinct f values, many ids.
struct OpenCase {
  using T = std::pair<double, int64_t>;
  using Less = std::less<T>;
  static Less MakeLess() { return Less(); }
  static T Random(Rng& rng) { return {0.5 * Uniform(rng, 0, 40), Uniform(rng, 0, 60)}; }
  static T Equivalent(const T& x, Rng&) { return x; }
  static auto Predicate(Rng& rng) {
    const double bound = 0.5 * Uniform(rng, 0, 40);
    return [bound](const T& x) { return x.first > bound; };
  }
  static T Key(Rng& rng) {
    // Half of the keys are the open list's "everything above f" form.
    const double f = 0.25 * Uniform(rng, -2, 82);
    if (Uniform(rng, 0, 1) == 0) return {f, std::numeric_limits<int64_t>::max()};
    return {f, Uniform(rng, -1, 61)};
  }
  static T Fields(const T& x) { return x; }
};

// Focal entries ordered through a virtual comparator that ignores the label
// id, so that entries differing only in it are duplicates.

// Strict weak ordering of focal entries.
class EntryOrder {
 public:
  virtual ~EntryOrder() = default;
  virtual bool Before(const FocalEntry& a, const FocalEntry& b) const = 0;
};

// Visited count descending, then f and total cost ascending.
class MostVisitedFirst : public EntryOrder {
 public:
  bool Before(const FocalEntry& a, const FocalEntry& b) const override {
    if (a.visited_count != b.visited_count) return a.visited_count > b.visited_count;
    if (a.f != b.f) return a.f < b.f;
    return a.total_cost < b.total_cost;
  }
};

// Comparator object holding the order it calls.
struct EntryLess {
  const EntryOrder* order = nullptr;
  bool operator()(const FocalEntry& a, const FocalEntry& b) const { return order->Before(a, b); }
};

// Focal entries from a small domain of equivalence classes.
struct FocalCase {
  using T = FocalEntry;
  using Less = EntryLess;
  static Less MakeLess() {
    static const MostVisitedFirst order;
    return Less{&order};
  }
  static T Random(Rng& rng) {
    FocalEntry e;
    e.label_id = Uniform(rng, 0, 1000000);
    e.visited_count = Uniform(rng, 0, 5);
    e.active_agents = Uniform(rng, 1, 3);
    e.f = 0.5 * Uniform(rng, 0, 12);
    e.total_cost = Uniform(rng, 0, 4);
    return e;
  }
  // Same visited count, f and cost; other id and agent count.
  static T Equivalent(const T& x, Rng& rng) {
    FocalEntry e = x;
    e.label_id = Uniform(rng, 0, 1000000);
    e.active_agents = Uniform(rng, 1, 3);
    return e;
  }
  // The focal list's "f above the bound", which cuts across its order.
  static auto Predicate(Rng& rng) {
    const double bound = 0.5 * Uniform(rng, 0, 12);
    return [bound](const T& x) { return x.f > bound; };
  }
  static auto Fields(const T& x) {
    return std::make_tuple(x.label_id, x.visited_count, x.active_agents, x.f, x.total_cost);
  }
};

// Random bound keys default to random elements.
template <class Case>
auto RandomKey(Rng& rng, int) -> decltype(Case::Key(rng)) { return Case::Key(rng); }
template <class Case>
typename Case::T RandomKey(Rng& rng, long) { return Case::Random(rng); }

// ---------------------------------------------------------------------------
// Differential driver: applies the same operations to a FlatOrderedSet and a
// std::set with the same comparator and checks, after every operation, that
// both hold the same elements field by field (so that the element kept of
// two equivalent ones is checked too), and the same size and front.

// An element case with a block capacity.
template <class Case, size_t B>
struct Config {
  using C = Case;
  static constexpr size_t kBlock = B;
};

template <class Cfg>
class FlatOrderedSetDifferential : public testing::Test {
 protected:
  using C = typename Cfg::C;
  using T = typename C::T;
  using Flat = FlatOrderedSet<T, typename C::Less, Cfg::kBlock>;
  using Ref = std::set<T, typename C::Less>;

  template <class It>
  static auto FieldsOf(It first, It last) {
    std::vector<decltype(C::Fields(*first))> out;
    for (; first != last; ++first) out.push_back(C::Fields(*first));
    return out;
  }

  static testing::AssertionResult Same(const Flat& flat, const Ref& ref) {
    if (flat.Size() != ref.size() || flat.Empty() != ref.empty()) {
      return testing::AssertionFailure() << "size " << flat.Size() << " vs " << ref.size();
    }
    if (!ref.empty() && C::Fields(flat.Front()) != C::Fields(*ref.begin())) {
      return testing::AssertionFailure() << "front differs";
    }
    if (FieldsOf(flat.begin(), flat.end()) != FieldsOf(ref.begin(), ref.end())) {
      return testing::AssertionFailure() << "elements differ";
    }
    return testing::AssertionSuccess();
  }

  // A random element of `ref` (which must not be empty).
  static const T& Pick(const Ref& ref, Rng& rng) {
    auto it = ref.begin();
    std::advance(it, Uniform(rng, 0, static_cast<int>(ref.size()) - 1));
    return *it;
  }

  // Runs `steps` random operations. The mix alternates every `phase` steps
  // between mostly inserting and mostly removing, so that the set grows and
  // shrinks repeatedly and blocks are split, merged and freed throughout.
  void Run(uint64_t seed, int steps, int phase) {
    Rng rng(seed);
    Flat flat(C::MakeLess());
    Ref ref(C::MakeLess());
    for (int step = 0; step < steps; ++step) {
      const bool growing = (step / phase) % 2 == 0;
      const int op = Uniform(rng, 0, 99);
      std::ostringstream what;
      if (op < (growing ? 60 : 25)) {
        const T x = C::Random(rng);
        what << "insert";
        ASSERT_EQ(flat.Insert(x), ref.insert(x).second) << "step " << step;
      } else if (op < 70) {
        if (ref.empty()) continue;
        // By an equivalent element, which may differ in ignored fields.
        const T x = C::Equivalent(Pick(ref, rng), rng);
        what << "erase present";
        ASSERT_TRUE(flat.Erase(x)) << "step " << step;
        ref.erase(x);
      } else if (op < 78) {
        const T x = C::Random(rng);
        what << "erase any";
        ASSERT_EQ(flat.Erase(x), ref.erase(x) == 1) << "step " << step;
      } else if (op < 90) {
        if (ref.empty()) continue;
        what << "pop front";
        flat.PopFront();
        ref.erase(ref.begin());
      } else if (op < 95) {
        const T key = RandomKey<C>(rng, 0);
        const bool upper = Uniform(rng, 0, 1) == 1;
        what << (upper ? "upper" : "lower") << " bound iteration";
        auto fit = upper ? flat.UpperBound(key) : flat.LowerBound(key);
        auto rit = upper ? ref.upper_bound(key) : ref.lower_bound(key);
        ASSERT_EQ(FieldsOf(fit, flat.end()), FieldsOf(rit, ref.end())) << "step " << step;
      } else if (op < 97) {
        what << "tail erase";
        const int how = Uniform(rng, 0, 2);
        typename Flat::ConstIterator fit;
        typename Ref::iterator rit;
        if (how == 2) {
          // From a random position, which may be a block's first element.
          const int k = Uniform(rng, 0, static_cast<int>(ref.size()));
          fit = std::next(flat.begin(), k);
          rit = std::next(ref.begin(), k);
        } else {
          const T key = RandomKey<C>(rng, 0);
          fit = how == 0 ? flat.UpperBound(key) : flat.LowerBound(key);
          rit = how == 0 ? ref.upper_bound(key) : ref.lower_bound(key);
        }
        const size_t expected = static_cast<size_t>(std::distance(rit, ref.end()));
        ref.erase(rit, ref.end());
        ASSERT_EQ(flat.EraseFrom(fit), expected) << "step " << step;
      } else if (op < 99) {
        what << "erase if";
        auto pred = C::Predicate(rng);
        size_t expected = 0;
        for (auto it = ref.begin(); it != ref.end();) {
          if (pred(*it)) {
            it = ref.erase(it);
            ++expected;
          } else {
            ++it;
          }
        }
        ASSERT_EQ(flat.EraseIf(pred), expected) << "step " << step;
      } else if (Uniform(rng, 0, 9) == 0) {
        what << "clear";
        flat.Clear();
        ref.clear();
      } else {
        what << "erase if nothing matches";
        ASSERT_EQ(flat.EraseIf([](const T&) { return false; }), 0u);
      }
      ASSERT_TRUE(Same(flat, ref)) << "after " << what.str() << " at step " << step;
    }
  }
};

using Configs = testing::Types<
    Config<IntCase<false>, 2>, Config<IntCase<false>, 3>, Config<IntCase<false>, 4>,
    Config<IntCase<false>, 5>, Config<IntCase<true>, 4>, Config<IntCase<false>, 64>,
    Config<OpenCase, 2>, Config<OpenCase, 4>, Config<OpenCase, 16>,
    Config<OpenCase, DefaultFlatBlockCapacity<OpenCase::T>()>,
    Config<FocalCase, 2>, Config<FocalCase, 3>, Config<FocalCase, 4>, Config<FocalCase, 7>,
    Config<FocalCase, DefaultFlatBlockCapacity<FocalEntry>()>>;
TYPED_TEST_SUITE(FlatOrderedSetDifferential, Configs);

// Short phases keep the set small (block boundaries everywhere); long ones
// let it reach hundreds of elements and shrink back to nothing.
TYPED_TEST(FlatOrderedSetDifferential, MatchesStdSetOverRandomOperations) {
  for (uint64_t seed : {1u, 2u, 3u}) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    this->Run(seed, 6000, 40);
    if (this->HasFatalFailure()) return;
    this->Run(seed + 100, 12000, 3000);
    if (this->HasFatalFailure()) return;
  }
}

// ---------------------------------------------------------------------------
// Cases at known block boundaries. With capacity 4, ascending inserts fill
// whole blocks: 1..12 lie in blocks {1..4} {5..8} {9..12}.

using SmallSet = FlatOrderedSet<int, std::less<int>, 4>;

std::vector<int> Contents(SmallSet::ConstIterator first, SmallSet::ConstIterator last) {
  return std::vector<int>(first, last);
}
std::vector<int> Contents(const SmallSet& set) { return Contents(set.begin(), set.end()); }
std::vector<int> Range(int lo, int hi) {
  std::vector<int> out;
  for (int i = lo; i <= hi; ++i) out.push_back(i);
  return out;
}
SmallSet Ascending(int n) {
  SmallSet set;
  for (int i = 1; i <= n; ++i) set.Insert(i);
  return set;
}

TEST(FlatOrderedSet, EmptySetOperations) {
  SmallSet set;
  EXPECT_TRUE(set.Empty());
  EXPECT_EQ(set.Size(), 0u);
  EXPECT_TRUE(set.begin() == set.end());
  EXPECT_TRUE(set.LowerBound(3) == set.end());
  EXPECT_TRUE(set.UpperBound(3) == set.end());
  EXPECT_FALSE(set.Erase(3));
  EXPECT_EQ(set.EraseFrom(set.begin()), 0u);
  EXPECT_EQ(set.EraseIf([](int) { return true; }), 0u);
  set.Clear();
  EXPECT_TRUE(set.Insert(3));
  EXPECT_EQ(Contents(set), std::vector<int>{3});
}

TEST(FlatOrderedSet, EmptiedByEachRemovalThenReused) {
  SmallSet set = Ascending(9);
  while (!set.Empty()) set.PopFront();
  EXPECT_TRUE(set.begin() == set.end());
  set.Insert(5);
  set.Insert(2);
  EXPECT_EQ(Contents(set), (std::vector<int>{2, 5}));

  set = Ascending(9);
  for (int i = 9; i >= 1; --i) ASSERT_TRUE(set.Erase(i));
  EXPECT_TRUE(set.Empty());
  set.Insert(7);
  EXPECT_EQ(set.Front(), 7);

  set = Ascending(9);
  EXPECT_EQ(set.EraseIf([](int) { return true; }), 9u);
  EXPECT_TRUE(set.Empty());
  set.Insert(1);
  EXPECT_EQ(Contents(set), std::vector<int>{1});

  set = Ascending(9);
  EXPECT_EQ(set.EraseFrom(set.begin()), 9u);
  EXPECT_TRUE(set.Empty());
  EXPECT_TRUE(set.Insert(4));
  EXPECT_EQ(Contents(set), std::vector<int>{4});
}

TEST(FlatOrderedSet, ErasingTheLastElementOfABlock) {
  SmallSet set = Ascending(12);
  ASSERT_TRUE(set.Erase(4));
  ASSERT_TRUE(set.Erase(8));
  EXPECT_EQ(Contents(set), (std::vector<int>{1, 2, 3, 5, 6, 7, 9, 10, 11, 12}));
  // Bounds that fall on the removed elements continue in the next block.
  EXPECT_EQ(*set.LowerBound(4), 5);
  EXPECT_EQ(*set.UpperBound(3), 5);
  EXPECT_EQ(*set.LowerBound(8), 9);
  // The gaps take new elements again.
  EXPECT_TRUE(set.Insert(8));
  EXPECT_TRUE(set.Insert(4));
  EXPECT_FALSE(set.Insert(9));
  EXPECT_EQ(Contents(set), Range(1, 12));
}

TEST(FlatOrderedSet, ErasingAWholeBlockFromTheMiddle) {
  SmallSet set = Ascending(12);
  for (int i = 5; i <= 8; ++i) ASSERT_TRUE(set.Erase(i));
  EXPECT_EQ(Contents(set), (std::vector<int>{1, 2, 3, 4, 9, 10, 11, 12}));
  EXPECT_EQ(*set.UpperBound(4), 9);
  EXPECT_EQ(Contents(set.LowerBound(6), set.end()), Range(9, 12));
  for (int i = 8; i >= 5; --i) ASSERT_TRUE(set.Insert(i));
  EXPECT_EQ(Contents(set), Range(1, 12));
}

TEST(FlatOrderedSet, TailEraseAtABlockBoundary) {
  SmallSet set = Ascending(12);
  EXPECT_EQ(set.EraseFrom(set.UpperBound(8)), 4u);
  EXPECT_EQ(Contents(set), Range(1, 8));
  EXPECT_EQ(set.EraseFrom(set.LowerBound(5)), 4u);
  EXPECT_EQ(Contents(set), Range(1, 4));
  EXPECT_TRUE(set.UpperBound(4) == set.end());
  EXPECT_EQ(set.EraseFrom(set.UpperBound(4)), 0u);
  for (int i = 12; i >= 5; --i) ASSERT_TRUE(set.Insert(i));
  EXPECT_EQ(Contents(set), Range(1, 12));
  // Inside a block.
  EXPECT_EQ(set.EraseFrom(set.UpperBound(6)), 6u);
  EXPECT_EQ(Contents(set), Range(1, 6));
  EXPECT_EQ(set.Size(), 6u);
}

TEST(FlatOrderedSet, PopFrontAcrossBlocksKeepsFrontAndBounds) {
  SmallSet set = Ascending(12);
  for (int expected = 1; expected <= 6; ++expected) {
    ASSERT_EQ(set.Front(), expected);
    set.PopFront();
  }
  EXPECT_EQ(Contents(set), Range(7, 12));
  EXPECT_EQ(*set.LowerBound(0), 7);
  // Smaller than everything left: a new front.
  EXPECT_TRUE(set.Insert(2));
  EXPECT_EQ(set.Front(), 2);
  EXPECT_EQ(*set.UpperBound(2), 7);
}

TEST(FlatOrderedSet, KeepsTheFirstOfEquivalentElements) {
  FlatOrderedSet<FocalEntry, EntryLess, 3> set(FocalCase::MakeLess());
  for (int64_t id = 0; id < 10; ++id) set.Insert(FocalEntry{id, 2, 1, static_cast<double>(id % 3), 1.0});
  EXPECT_FALSE(set.Insert(FocalEntry{99, 2, 1, 0.0, 1.0}));
  std::vector<int64_t> ids;
  for (const FocalEntry& e : set) ids.push_back(e.label_id);
  EXPECT_EQ(ids, (std::vector<int64_t>{0, 1, 2}));
  EXPECT_TRUE(set.Erase(FocalEntry{77, 2, 5, 1.0, 1.0}));
  EXPECT_EQ(set.Front().label_id, 0);
  EXPECT_EQ(set.Size(), 2u);
}

TEST(FlatOrderedSet, CopiesAndMovesAreIndependent) {
  SmallSet original = Ascending(10);
  SmallSet copy = original;
  copy.Erase(3);
  copy.Insert(20);
  original.PopFront();
  EXPECT_EQ(Contents(original), Range(2, 10));
  EXPECT_EQ(Contents(copy), (std::vector<int>{1, 2, 4, 5, 6, 7, 8, 9, 10, 20}));

  SmallSet moved = std::move(copy);
  EXPECT_EQ(moved.Size(), 10u);
  EXPECT_EQ(moved.Front(), 1);
  copy = original;  // a moved-from set can be assigned again
  EXPECT_EQ(Contents(copy), Range(2, 10));
  copy = SmallSet();
  EXPECT_TRUE(copy.Empty());
  EXPECT_EQ(Contents(original), Range(2, 10));
}

// ---------------------------------------------------------------------------
// Memory: ascending inserts fill blocks completely, and removing most
// elements at random gives the memory back (small neighbours are merged and
// empty blocks freed), instead of leaving nearly empty blocks behind.

TEST(FlatOrderedSet, MemoryFollowsTheNumberOfElements) {
  using Set = FlatOrderedSet<int64_t, std::less<int64_t>, 64>;
  constexpr int n = 20000;
  Set ascending;
  for (int i = 0; i < n; ++i) ascending.Insert(i);
  EXPECT_LT(ascending.MemoryBytes(), static_cast<size_t>(n) * sizeof(int64_t) * 13 / 10);

  Rng rng(7);
  Set set;
  std::vector<int64_t> values;
  for (int i = 0; i < n; ++i) values.push_back(static_cast<int64_t>(rng()));
  for (int64_t v : values) set.Insert(v);
  const size_t peak = set.MemoryBytes();
  EXPECT_LT(peak, static_cast<size_t>(n) * sizeof(int64_t) * 2);
  std::shuffle(values.begin(), values.end(), rng);
  for (size_t i = 0; i < values.size() * 95 / 100; ++i) ASSERT_TRUE(set.Erase(values[i]));
  EXPECT_LT(set.MemoryBytes(), peak / 4);

  // Removal by predicate, which visits every block once.
  set.Clear();
  for (int64_t v : values) set.Insert(v);
  set.EraseIf([](int64_t v) { return v % 20 != 0; });
  EXPECT_LT(set.MemoryBytes(), peak / 4);
}

}  // namespace
}  // namespace tarsel
