#pragma once

#include <chrono>
#include <ctime>

namespace tarsel {

// Stopwatch on the processor clock (seconds of CPU time of the process, all
// its threads together) and, started with it, on the wall clock.
class SimpleTimer {
 public:
  virtual ~SimpleTimer() = default;
  virtual int Start();
  virtual double Elapsed() const;
  virtual void PrintDuration() const;
  // Wall-clock seconds since Start.
  double WallElapsed() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_start).count();
  }

 private:
  std::clock_t start_ticks = 0;
  std::chrono::steady_clock::time_point wall_start = std::chrono::steady_clock::now();
};

}  // namespace tarsel
