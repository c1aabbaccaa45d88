#include "common/console.h"

#include <iostream>

namespace tarsel {

namespace {

class StandardStreams : public ConsoleSink {
 public:
  void Write(const ConsoleRecord& record) override {
    std::ostream& out = record.stream == ConsoleStream::kOut ? std::cout : std::cerr;
    out << record.text << '\n';
    if (record.flush) out << std::flush;
  }
};

StandardStreams standard_streams;
thread_local ConsoleSink* current_sink = &standard_streams;

}  // namespace

const char* ConsoleKindName(ConsoleKind kind) {
  switch (kind) {
    case ConsoleKind::kDebug:
      return "debug";
    case ConsoleKind::kInfo:
      return "info";
    case ConsoleKind::kProgress:
      return "progress";
    case ConsoleKind::kWarning:
      return "warning";
    case ConsoleKind::kStop:
      return "stop";
    case ConsoleKind::kError:
      return "error";
  }
  return "info";
}

ConsoleSink& Console() { return *current_sink; }

ConsoleSink* SetConsoleSink(ConsoleSink* sink) {
  ConsoleSink* previous = current_sink;
  current_sink = sink != nullptr ? sink : &standard_streams;
  return previous;
}

}  // namespace tarsel
