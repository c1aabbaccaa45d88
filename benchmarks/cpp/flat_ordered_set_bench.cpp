// Times FlatOrderedSet against std::set on the access patterns of the
// search's open and focal lists and prints throughput and memory per
// element. Not a test: it checks nothing but that both containers end in
// the same state.
//
//   cmake -S . -B build/bench -DKVR_BUILD_BENCH=ON -DKVR_BUILD_PYTHON=OFF -DCMAKE_BUILD_TYPE=Release
//   cmake --build build/bench --target kvr_flat_set_bench
//   build/bench/kvr_flat_set_bench [inserts]    (default 10000000)
//
// Times are CPU seconds of the benchmark's thread; memory is malloc's count
// of heap in use (glibc's mallinfo2), so it includes allocator overhead.

#include <malloc.h>
#include <time.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <type_traits>
#include <utility>

#include "common/focal_entry.h"
#include "search/flat_ordered_set.h"

namespace tarsel {
namespace {

using OpenKey = std::pair<double, int64_t>;

// splitmix64: cheap enough not to blur the container timings.
class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed) {}
  uint64_t Next() {
    uint64_t z = (state_ += 0x9e3779b97f4a7c15ull);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    return z ^ (z >> 31);
  }
  double Unit() { return static_cast<double>(Next() >> 11) * 0x1.0p-53; }

 private:
  uint64_t state_;
};

size_t HeapInUse() { return mallinfo2().uordblks; }

// CPU seconds of this thread: the machine may be shared, and waiting for a
// core is not the container's cost.
double CpuSeconds() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

// The focal order behind a virtual call, as the comparator plugin gives it.
class EntryOrder {
 public:
  virtual ~EntryOrder() = default;
  virtual bool Before(const FocalEntry& a, const FocalEntry& b) const = 0;
};
class MostVisitedFirst : public EntryOrder {
 public:
  bool Before(const FocalEntry& a, const FocalEntry& b) const override {
    if (a.visited_count != b.visited_count) return a.visited_count > b.visited_count;
    if (a.f != b.f) return a.f < b.f;
    return a.total_cost < b.total_cost;
  }
};
struct EntryLess {
  const EntryOrder* order;
  bool operator()(const FocalEntry& a, const FocalEntry& b) const { return order->Before(a, b); }
};

// The few operations the patterns need, for both containers.
template <class T, class L>
bool Insert(std::set<T, L>& s, const T& x) { return s.insert(x).second; }
template <class T, class L>
T PopFront(std::set<T, L>& s) {
  const T x = *s.begin();
  s.erase(s.begin());
  return x;
}
template <class T, class L>
size_t EraseAbove(std::set<T, L>& s, const T& key) {
  const size_t before = s.size();
  s.erase(s.upper_bound(key), s.end());
  return before - s.size();
}
template <class T, class L, class P>
size_t EraseIf(std::set<T, L>& s, P pred) {
  size_t n = 0;
  for (auto it = s.begin(); it != s.end();) {
    if (pred(*it)) {
      it = s.erase(it);
      ++n;
    } else {
      ++it;
    }
  }
  return n;
}
template <class T, class L>
size_t Size(const std::set<T, L>& s) { return s.size(); }

template <class T, class L, size_t B>
bool Insert(FlatOrderedSet<T, L, B>& s, const T& x) { return s.Insert(x); }
template <class T, class L, size_t B>
T PopFront(FlatOrderedSet<T, L, B>& s) {
  const T x = s.Front();
  s.PopFront();
  return x;
}
template <class T, class L, size_t B>
size_t EraseAbove(FlatOrderedSet<T, L, B>& s, const T& key) { return s.EraseFrom(s.UpperBound(key)); }
template <class T, class L, size_t B, class P>
size_t EraseIf(FlatOrderedSet<T, L, B>& s, P pred) { return s.EraseIf(pred); }
template <class T, class L, size_t B>
size_t Size(const FlatOrderedSet<T, L, B>& s) { return s.Size(); }

struct Figures {
  double seconds = 0;  // CPU time
  size_t final_size = 0;
  size_t heap_bytes = 0;  // heap in use at the end, from malloc's own count
  uint64_t checksum = 0;  // of what was popped and erased
};

void Print(const char* pattern, const char* name, size_t inserts, const Figures& r) {
  std::printf("%-8s %-22s %7.2f CPU s %6.2f M inserts/s %10zu elements %7.1f B/element\n", pattern,
              name, r.seconds, static_cast<double>(inserts) / r.seconds / 1e6, r.final_size,
              r.final_size ? static_cast<double>(r.heap_bytes) / static_cast<double>(r.final_size)
                           : 0.0);
}

template <class Set>
Figures Finish(const Set& set, size_t heap_before, double start, uint64_t checksum) {
  Figures r;
  r.seconds = CpuSeconds() - start;
  r.final_size = Size(set);
  r.heap_bytes = HeapInUse() - heap_before;
  r.checksum = checksum;
  return r;
}

// Random f, distinct ids, nothing removed: the cost of an insert and of an
// element.
template <class Set>
Figures InsertOnly(Set set, size_t inserts) {
  const size_t heap_before = HeapInUse();
  const double start = CpuSeconds();
  Random rng(1);
  for (size_t i = 0; i < inserts; ++i) Insert(set, OpenKey{rng.Unit() * 1000, static_cast<int64_t>(i)});
  return Finish(set, heap_before, start, 0);
}

// The open list under a best-first search: take the smallest f, add three
// successors with f a little above it (two decimals, so that equal f values
// are common), and now and then, as after a new incumbent, drop every entry
// above a cutoff.
template <class Set>
Figures OpenPattern(Set set, size_t inserts) {
  const size_t heap_before = HeapInUse();
  const double start = CpuSeconds();
  Random rng(2);
  uint64_t checksum = 0;
  double f = 0;
  for (size_t i = 0; i < inserts; ++i) {
    if (i % 3 == 0 && Size(set) > 0) {
      const OpenKey first = PopFront(set);
      f = first.first;
      checksum += static_cast<uint64_t>(first.second);
    }
    const double successor = f + static_cast<double>(rng.Next() % 10000) / 100;
    Insert(set, OpenKey{successor, static_cast<int64_t>(i)});
    if (i % 1000000 == 999999) checksum += EraseAbove(set, OpenKey{f + 90, INT64_MAX});
  }
  return Finish(set, heap_before, start, checksum);
}

// The focal list: entries ordered by visited count then f through a virtual
// comparator, the front taken constantly, and now and then every entry above
// a lower focal bound dropped, which cuts across the order.
template <class Set>
Figures FocalPattern(Set set, size_t inserts) {
  const size_t heap_before = HeapInUse();
  const double start = CpuSeconds();
  Random rng(3);
  uint64_t checksum = 0;
  for (size_t i = 0; i < inserts; ++i) {
    if (i % 3 == 0 && Size(set) > 0) checksum += static_cast<uint64_t>(PopFront(set).label_id);
    FocalEntry e;
    e.label_id = static_cast<int64_t>(i);
    e.visited_count = static_cast<int64_t>(rng.Next() % 60);
    e.active_agents = 1;
    e.f = static_cast<double>(rng.Next() % 100000) / 100;
    e.total_cost = e.f;
    Insert(set, e);
    if (i % 1000000 == 999999) {
      const double bound = 900;
      checksum += EraseIf(set, [bound](const FocalEntry& x) { return x.f > bound; });
    }
  }
  return Finish(set, heap_before, start, checksum);
}

template <size_t B>
using FlatOpen = FlatOrderedSet<OpenKey, std::less<OpenKey>, B>;

// Calls run(set, name) with an empty flat set of T for each of the given
// block capacities.
template <class T, size_t... Capacities, class Run, class Less>
void ForEachCapacity(Run run, Less less) {
  auto one = [&](auto capacity) {
    constexpr size_t b = decltype(capacity)::value;
    std::string name = "FlatOrderedSet B=" + std::to_string(b);
    if (b == DefaultFlatBlockCapacity<T>()) name += "*";
    run(FlatOrderedSet<T, Less, b>(less), name);
  };
  (one(std::integral_constant<size_t, Capacities>()), ...);
}

}  // namespace
}  // namespace tarsel

int main(int argc, char** argv) {
  using namespace tarsel;
  const size_t n = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 10000000;
  std::printf("%zu inserts per run; sizeof(pair<double,int64_t>) = %zu, sizeof(FocalEntry) = %zu\n",
              n, sizeof(OpenKey), sizeof(FocalEntry));
  std::printf("B/element: heap in use at the end (malloc's count) over the elements held;\n"
              "B=: block capacity in elements, * the default\n\n");
  bool same = true;

  const Figures a = InsertOnly(std::set<OpenKey>(), n);
  Print("insert", "std::set", n, a);
  const Figures b = InsertOnly(FlatOpen<DefaultFlatBlockCapacity<OpenKey>()>(), n);
  Print("insert", "FlatOrderedSet", n, b);
  same &= a.final_size == b.final_size;

  // Each pattern on std::set, then on the flat set with several block
  // capacities; the default one is marked.
  const Figures open_ref = OpenPattern(std::set<OpenKey>(), n);
  Print("open", "std::set", n, open_ref);
  ForEachCapacity<OpenKey, 64, 128, 256, 512>([&](auto set, const std::string& name) {
    const Figures r = OpenPattern(std::move(set), n);
    Print("open", name.c_str(), n, r);
    same &= r.checksum == open_ref.checksum && r.final_size == open_ref.final_size;
  }, std::less<OpenKey>());

  static const MostVisitedFirst order;
  const Figures focal_ref = FocalPattern(std::set<FocalEntry, EntryLess>(EntryLess{&order}), n);
  Print("focal", "std::set", n, focal_ref);
  ForEachCapacity<FocalEntry, 32, 64, 128, 256>([&](auto set, const std::string& name) {
    const Figures r = FocalPattern(std::move(set), n);
    Print("focal", name.c_str(), n, r);
    same &= r.checksum == focal_ref.checksum && r.final_size == focal_ref.final_size;
  }, EntryLess{&order});

  std::printf("\nboth containers ended in the same state: %s\n", same ? "yes" : "NO");
  return same ? 0 : 1;
}
