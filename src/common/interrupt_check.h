#pragma once

#include <functional>
#include <utility>

namespace tarsel {

// Asks the caller, at most every kPollSeconds of processor time, whether a
// running solve should stop (the Python module answers from the
// interpreter's pending signals, so that Ctrl-C ends a solve). Once the
// answer was yes it stays yes until Reset. Without a callback and a hook
// nothing is ever asked, and the search runs exactly as without the check.
class InterruptCheck {
 public:
  static constexpr double kPollSeconds = 0.02;

  void SetCallback(std::function<bool()> callback) { callback_ = std::move(callback); }
  // Runs at every poll, before the callback is asked: the solve's periodic
  // progress report hangs here, so that every loop that polls serves it.
  void SetPollHook(std::function<void()> hook) { hook_ = std::move(hook); }
  // Forgets an earlier answer; the next Poll asks at once.
  void Reset() {
    interrupted_ = false;
    last_poll_ = -1;
  }
  // Stops the solve from outside a poll: the next Poll answers yes.
  void Stop() { interrupted_ = true; }
  // `now`: processor seconds on a clock that only moves forward. Callers
  // use different origins (seconds since the solve started, or since the
  // process started), so a `now` before the last poll is another caller's
  // clock and polls at once rather than waiting for that clock to catch up.
  bool Poll(double now) {
    if (interrupted_) return true;
    if (!Active()) return false;
    if (last_poll_ >= 0 && now >= last_poll_ && now - last_poll_ < kPollSeconds) return false;
    last_poll_ = now;
    if (hook_) hook_();
    if (!interrupted_ && callback_) interrupted_ = callback_();
    return interrupted_;
  }
  bool Interrupted() const { return interrupted_; }
  bool Active() const { return static_cast<bool>(callback_) || static_cast<bool>(hook_); }

 private:
  std::function<bool()> callback_;
  std::function<void()> hook_;
  bool interrupted_ = false;
  double last_poll_ = -1;
};

}  // namespace tarsel
