#include "model/options.h"

#include <unistd.h>

#include <algorithm>

namespace tarsel {

double DefaultMemoryLimitMb() {
  constexpr double kMaxDefaultMb = 8192;
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long page_size = sysconf(_SC_PAGE_SIZE);
  if (pages <= 0 || page_size <= 0) return kMaxDefaultMb;
  const double physical_mb = static_cast<double>(pages) * static_cast<double>(page_size) / (1 << 20);
  return std::min(kMaxDefaultMb, physical_mb / 4);
}

}  // namespace tarsel
