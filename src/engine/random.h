#pragma once

#include <cstddef>
#include <cstdint>

namespace tarsel {

// The engine's own random generator (splitmix64): seeded once per solve and
// owned by the engine, so that a seed fixes every random choice on every
// platform.
class Random {
 public:
  explicit Random(uint64_t seed = 0) : state_(seed) {}

  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
  }
  // Uniform in [0, bound); 0 when bound is 0.
  size_t Below(size_t bound) {
    return bound == 0 ? 0 : static_cast<size_t>(Next() % static_cast<uint64_t>(bound));
  }
  // Uniform in [0, 1).
  double Unit() { return static_cast<double>(Next() >> 11) * (1.0 / 9007199254740992.0); }

  template <class Vector>
  void Shuffle(Vector& items) {
    for (size_t i = items.size(); i > 1; --i) {
      const size_t j = Below(i);
      auto held = items[i - 1];
      items[i - 1] = items[j];
      items[j] = held;
    }
  }

 private:
  uint64_t state_;
};

}  // namespace tarsel
