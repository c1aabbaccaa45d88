#pragma once

#include <functional>
#include <utility>

namespace tarsel {

// Asks the caller, at most every kPollSeconds of processor time, whether a
// running solve should stop (the Python module answers from the
// interpreter's pending signals, so that Ctrl-C ends a solve). Once the
// answer was yes it stays yes until Reset. Without a callback nothing is
// ever asked, and the search runs exactly as without the check.
class InterruptCheck {
 public:
  static constexpr double kPollSeconds = 0.02;

  void SetCallback(std::function<bool()> callback) { callback_ = std::move(callback); }
  // Forgets an earlier answer; the next Poll asks at once.
  void Reset() {
    interrupted_ = false;
    last_poll_ = -1;
  }
  // `now`: processor seconds on any clock that only moves forward.
  bool Poll(double now) {
    if (interrupted_) return true;
    if (!callback_ || (last_poll_ >= 0 && now - last_poll_ < kPollSeconds)) return false;
    last_poll_ = now;
    interrupted_ = callback_();
    return interrupted_;
  }
  bool Interrupted() const { return interrupted_; }
  bool Active() const { return static_cast<bool>(callback_); }

 private:
  std::function<bool()> callback_;
  bool interrupted_ = false;
  double last_poll_ = -1;
};

}  // namespace tarsel
