#include "common/console.h"

#include <iostream>

namespace tarsel {

namespace {

class StandardStreams : public ConsoleSink {
 public:
  void Line(ConsoleStream stream, const std::string& text, bool flush) override {
    std::ostream& out = stream == ConsoleStream::kOut ? std::cout : std::cerr;
    out << text << '\n';
    if (flush) out << std::flush;
  }
};

StandardStreams standard_streams;
ConsoleSink* current_sink = &standard_streams;

}  // namespace

ConsoleSink& Console() { return *current_sink; }

ConsoleSink* SetConsoleSink(ConsoleSink* sink) {
  ConsoleSink* previous = current_sink;
  current_sink = sink != nullptr ? sink : &standard_streams;
  return previous;
}

}  // namespace tarsel
