#pragma once

#include <cstdint>

#include "common/special_values.h"

namespace tarsel {

enum class ObjectiveType : int32_t { MinMax = 0, MinSum = 1 };

struct Options {
  bool return_to_end = true;
  ObjectiveType objective = ObjectiveType::MinSum;
  double time_limit = 60.0;  // processor seconds of search
  // Arc costs at or above this value mean "no connection": no route uses
  // such an arc, and matrix entries an instance does not give take this
  // value. Must be positive and finite.
  double missing_cost = kNoConnection;
};

}  // namespace tarsel
