#include "base/DeferredPreferences.h"

#include <gtest/gtest.h>

#include <optional>

#include "base/Format.h"
#include "fakes/MemoryPreferences.h"
#include "fakes/VirtualMainQueue.h"

namespace brontide {
namespace {

using namespace std::chrono_literals;
using Writes = std::vector<std::pair<std::string, std::string>>;

TEST(DeferredPreferencesTest, Writes_ADragIsOneFileWriteAndFlushAndRestartKeepTheLastValue) {
  fakes::MemoryPreferences file;
  fakes::VirtualMainQueue queue;
  std::optional<DeferredPreferences> preferences(std::in_place, file, queue);

  // 20 slider steps in 200 ms: each read at once, the file written once, with the last.
  for (int step = 1; step <= 20; ++step) {
    preferences->setValue("volume", formatNumber(step / 20.0));
    EXPECT_EQ(preferences->value("volume"), formatNumber(step / 20.0));
    queue.advance(10ms);
  }
  queue.advance(DeferredPreferences::kWriteInterval - 210ms);
  EXPECT_EQ(file.flushes, 0);
  queue.advance(10ms);
  EXPECT_EQ(file.flushes, 1);
  EXPECT_EQ(file.writes, (Writes{{"volume", "1"}}));

  // Stop and quit flush what is pending (both keys in one write); the interval's end then has nothing to write.
  preferences->setValue("volume", "0.5");
  preferences->setValue("speakerVolume/Terraza", "0.2");
  preferences->flush();
  EXPECT_EQ(file.flushes, 2);
  EXPECT_EQ(file.value("volume"), "0.5");
  EXPECT_EQ(file.value("speakerVolume/Terraza"), "0.2");
  queue.advance(1s);
  EXPECT_EQ(file.flushes, 2);

  // Destroyed with a write pending (the app's exit): it is written, and the due write later finds nothing.
  preferences->setValue("volume", "0.7");
  preferences.reset();
  queue.advance(1s);
  EXPECT_EQ(file.flushes, 3);
  EXPECT_EQ(DeferredPreferences(file, queue).value("volume"), "0.7");
}

}  // namespace
}  // namespace brontide
