#pragma once

#include <string>

#include "common/console.h"

namespace tarsel::testing {

// Collects the core's console lines while it lives (in place of the
// standard streams), one string per stream, each line ending in a newline.
class ConsoleCapture : public ConsoleSink {
 public:
  ConsoleCapture() : previous_(SetConsoleSink(this)) {}
  ~ConsoleCapture() override { SetConsoleSink(previous_); }
  ConsoleCapture(const ConsoleCapture&) = delete;
  ConsoleCapture& operator=(const ConsoleCapture&) = delete;

  void Line(ConsoleStream stream, const std::string& text, bool flush) override {
    (void)flush;
    (stream == ConsoleStream::kOut ? out_ : err_) += text + "\n";
  }
  // What went to standard output / error since the last call; forgets it.
  std::string TakeOut() { return Take(out_); }
  std::string TakeErr() { return Take(err_); }

 private:
  static std::string Take(std::string& text) {
    std::string taken;
    taken.swap(text);
    return taken;
  }

  ConsoleSink* previous_;
  std::string out_;
  std::string err_;
};

}  // namespace tarsel::testing
