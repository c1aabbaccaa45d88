#pragma once

#include <cstdint>

namespace tarsel {

enum class ObjectiveType : int32_t { MinMax = 0, MinSum = 1 };

struct Options {
  bool return_to_end = true;
  ObjectiveType objective = ObjectiveType::MinSum;
  double time_limit = 60.0;  // processor seconds of search
};

}  // namespace tarsel
