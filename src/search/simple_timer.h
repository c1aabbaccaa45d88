#pragma once

#include <ctime>

namespace tarsel {

// Stopwatch on the processor clock: seconds of CPU time of the process.
class SimpleTimer {
 public:
  virtual ~SimpleTimer() = default;
  virtual int Start();
  virtual double Elapsed() const;
  virtual void PrintDuration() const;

 private:
  std::clock_t start_ticks = 0;
};

}  // namespace tarsel
