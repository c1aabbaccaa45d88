#include "search/simple_timer.h"
#include "common/console.h"

#include <iostream>

namespace tarsel {

int SimpleTimer::Start() {
  start_ticks = std::clock();
  wall_start = std::chrono::steady_clock::now();
  return 0;
}

double SimpleTimer::Elapsed() const {
  // clock() ticks are microseconds on the platforms we build for.
  return static_cast<double>(std::clock() - start_ticks) / 1000000;
}

void SimpleTimer::PrintDuration() const {
  ConsoleLine(ConsoleStream::kOut, ConsoleKind::kInfo, " System Clock Duration: ", Elapsed());
}

}  // namespace tarsel
