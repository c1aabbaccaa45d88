#pragma once

#include <string>
#include <vector>

#include "common/console.h"

namespace tarsel::testing {

// Collects the core's console lines while it lives on this thread (in place
// of the standard streams): one string per stream, each line ending in a
// newline, and the records themselves.
class ConsoleCapture : public ConsoleSink {
 public:
  ConsoleCapture() : previous_(SetConsoleSink(this)) {}
  ~ConsoleCapture() override { SetConsoleSink(previous_); }
  ConsoleCapture(const ConsoleCapture&) = delete;
  ConsoleCapture& operator=(const ConsoleCapture&) = delete;

  void Write(const ConsoleRecord& record) override {
    (record.stream == ConsoleStream::kOut ? out_ : err_) += record.text + "\n";
    records_.push_back(record);
  }
  // What went to standard output / error since the last call; forgets it.
  std::string TakeOut() { return Take(out_); }
  std::string TakeErr() { return Take(err_); }
  // Every record since the capture began.
  const std::vector<ConsoleRecord>& Records() const { return records_; }

 private:
  static std::string Take(std::string& text) {
    std::string taken;
    taken.swap(text);
    return taken;
  }

  ConsoleSink* previous_;
  std::string out_;
  std::string err_;
  std::vector<ConsoleRecord> records_;
};

}  // namespace tarsel::testing
