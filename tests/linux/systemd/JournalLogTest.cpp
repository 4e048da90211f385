#include "linux/systemd/JournalLog.h"

#include <gtest/gtest.h>

namespace brontide::linux::systemd {
namespace {

// A desktop file's raw bytes reach the log: they must not move the terminal's cursor or start a line.
TEST(JournalLogTest, EchoesEachNoticeOnOneEscapedStderrLine) {
  JournalLog log;
  testing::internal::CaptureStderr();
  log.notice("desktop entry \"Evil\x1b[2J\nstate: Error\x07\" skipped");
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "brontide: desktop entry \"Evil\\x1b[2J\\x0astate: Error\\x07\" skipped\n");
}

}  // namespace
}  // namespace brontide::linux::systemd
