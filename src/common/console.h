#pragma once

#include <sstream>
#include <string>

namespace tarsel {

enum class ConsoleStream { kOut, kErr };

// Where the core's console lines go. The default sink writes each line with
// a newline to standard output or standard error and flushes when asked;
// tests install their own sink to read the lines.
class ConsoleSink {
 public:
  virtual ~ConsoleSink() = default;
  virtual void Line(ConsoleStream stream, const std::string& text, bool flush) = 0;
};

// The sink in use (the standard streams unless replaced).
ConsoleSink& Console();
// Installs `sink` (nullptr restores the standard streams); returns the
// previous one.
ConsoleSink* SetConsoleSink(ConsoleSink* sink);

// Writes one line; the pieces are formatted as an ostream formats them.
template <class... Pieces>
void ConsoleLine(ConsoleStream stream, const Pieces&... pieces) {
  std::ostringstream text;
  (text << ... << pieces);
  Console().Line(stream, text.str(), true);
}

// As ConsoleLine, without flushing (for long listings).
template <class... Pieces>
void ConsoleLineUnflushed(ConsoleStream stream, const Pieces&... pieces) {
  std::ostringstream text;
  (text << ... << pieces);
  Console().Line(stream, text.str(), false);
}

}  // namespace tarsel
