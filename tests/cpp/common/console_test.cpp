#include <gtest/gtest.h>

#include "common/console_capture.h"

#include <string>
#include <thread>

namespace tarsel {
namespace {

using testing::ConsoleCapture;

TEST(Console, RecordsCarryKindCodeFieldsAndText) {
  ConsoleCapture console;
  ConsoleLine(ConsoleStream::kOut, ConsoleKind::kProgress, "w = ", 1);
  ConsoleCodedLine(ConsoleStream::kErr, ConsoleKind::kStop, console_code::kMemoryStop,
                   {{"memory_limit_mb", 2.5}}, "[memory] limit ", 2.5);
  ASSERT_EQ(console.Records().size(), 2u);
  const ConsoleRecord& progress = console.Records()[0];
  EXPECT_EQ(progress.stream, ConsoleStream::kOut);
  EXPECT_EQ(progress.kind, ConsoleKind::kProgress);
  EXPECT_TRUE(progress.code.empty());
  EXPECT_TRUE(progress.fields.empty());
  EXPECT_EQ(progress.text, "w = 1");
  const ConsoleRecord& stop = console.Records()[1];
  EXPECT_EQ(stop.code, "memory_stop");
  EXPECT_EQ(stop.fields, (ConsoleFields{{"memory_limit_mb", 2.5}}));
  EXPECT_EQ(console.TakeOut(), "w = 1\n");
  EXPECT_EQ(console.TakeErr(), "[memory] limit 2.5\n");
  EXPECT_STREQ(ConsoleKindName(ConsoleKind::kStop), "stop");
  EXPECT_STREQ(ConsoleKindName(ConsoleKind::kDebug), "debug");
}

TEST(Console, SinksNestAndRestore) {
  ConsoleCapture outer;
  {
    ConsoleCapture inner;
    ConsoleLine(ConsoleStream::kErr, ConsoleKind::kInfo, "inner");
    EXPECT_EQ(inner.TakeErr(), "inner\n");
  }
  ConsoleLine(ConsoleStream::kErr, ConsoleKind::kInfo, "outer");
  EXPECT_EQ(outer.TakeErr(), "outer\n");
  EXPECT_EQ(&Console(), &outer);
}

// A sink belongs to the thread that installed it: lines written on another
// thread meanwhile go to that thread's own sink.
TEST(Console, EachThreadHasItsOwnSink) {
  ConsoleCapture mine;
  std::string theirs;
  std::thread other([&theirs] {
    ConsoleCapture capture;
    ConsoleLine(ConsoleStream::kErr, ConsoleKind::kWarning, "from the other thread");
    theirs = capture.TakeErr();
  });
  other.join();
  ConsoleLine(ConsoleStream::kErr, ConsoleKind::kWarning, "from this thread");
  EXPECT_EQ(theirs, "from the other thread\n");
  EXPECT_EQ(mine.TakeErr(), "from this thread\n");
}

}  // namespace
}  // namespace tarsel
