#include <gst/gst.h>
#include <pipewire/pipewire.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "fakes/RecordingLog.h"
#include "fakes/VirtualMainQueue.h"
#include "linux/gstreamer/AdtsServer.h"
#include "linux/gstreamer/GstPlayer.h"
#include "support/AudioSession.h"

namespace brontide::linux::gstreamer {
namespace {

using namespace std::chrono_literals;
using Event = Player::ItemEvent;

testsupport::AudioSession* audioSession = nullptr;  // set up by main before any test

const std::vector<rig::AdtsFrame>& toneFrames() {
  static const auto frames = rig::encodeAdts("sine=frequency=440:sample_rate=48000:duration=10");
  return frames;
}

struct Counts {
  int failed = 0;
  int ended = 0;
  int stalled = 0;
  [[nodiscard]] int total() const { return failed + ended + stalled; }
};

class GstPlayerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(toneFrames().empty()) << "ffmpeg could not encode the test tone";
    ASSERT_NE(server.port(), 0);
    player.setAllowsExternalPlayback(true);
    player.setAutomaticallyWaitsToMinimizeStalling(true);
  }

  // What the controller does for a new stream: a new item, its three observations, current, play.
  Player::ItemId load(Counts& counts) {
    const auto item = player.makeItem(server.address(), 1.0);
    (void)player.observe(item, Event::failedToPlayToEnd, [&counts] { ++counts.failed; });
    (void)player.observe(item, Event::didPlayToEnd, [&counts] { ++counts.ended; });
    (void)player.observe(item, Event::playbackStalled, [&counts] { ++counts.stalled; });
    player.replaceCurrentItem(item);
    player.play();
    return item;
  }

  // The deadline only guards against hangs.
  bool eventually(const std::function<bool()>& done, std::chrono::milliseconds deadline = 10s) {
    return queue.pumpUntil(done, deadline);
  }

  std::string logText() const { return ::testing::PrintToString(log.lines()); }

  fakes::VirtualMainQueue queue;
  fakes::RecordingLog log;
  rig::AdtsServer server{toneFrames()};
  testsupport::MonitorRecording speaker{testsupport::kDefaultSink};
  GstPlayer player{queue, log};
};

TEST_F(GstPlayerTest, PlaysTheStreamAsItsOwnNodeWithoutRole) {
  Counts counts;
  load(counts);
  ASSERT_TRUE(eventually([&] { return speaker.hearsTone(); })) << logText();

  const auto node = player.currentNodeName();
  ASSERT_TRUE(node);
  EXPECT_EQ(audioSession->nodeProperty(*node, "application.id"), "brontide.player");
  EXPECT_EQ(audioSession->nodeProperty(*node, "application.name"), "Brontide");
  EXPECT_EQ(audioSession->nodeProperty(*node, "media.class"), "Stream/Output/Audio");
  EXPECT_EQ(audioSession->nodeProperty(*node, "media.role"), std::nullopt);

  player.pause();
  EXPECT_TRUE(eventually([&] { return speaker.hearsSilence(); }));
  player.play();
  EXPECT_TRUE(eventually([&] { return speaker.hearsTone(); }));

  player.replaceCurrentItem(0);
  EXPECT_EQ(player.currentNodeName(), std::nullopt);
  EXPECT_TRUE(eventually([&] { return !audioSession->nodeExists(*node) && speaker.hearsSilence(); }));
  EXPECT_EQ(counts.total(), 0) << logText();
}

TEST_F(GstPlayerTest, ACloseEndsTheItemAResetFailsItOnceAndAReplacedItemHearsNeither) {
  Counts closed;
  load(closed);
  ASSERT_TRUE(eventually([&] { return speaker.hearsTone(); })) << logText();
  server.closeClients();
  ASSERT_TRUE(eventually([&] { return closed.ended > 0; })) << logText();
  queue.pumpFor(500ms);  // room for a stray second event
  EXPECT_EQ(closed.ended, 1);
  EXPECT_EQ(closed.failed + closed.stalled, 0) << logText();

  Counts reset;
  load(reset);
  ASSERT_TRUE(eventually([&] { return speaker.hearsTone(); })) << logText();
  server.resetClients();
  ASSERT_TRUE(eventually([&] { return reset.failed > 0; })) << logText();
  queue.pumpFor(1500ms);  // a reset brings several errors
  EXPECT_EQ(reset.failed, 1);
  EXPECT_EQ(reset.ended + reset.stalled, 0) << logText();
  EXPECT_TRUE(log.contains("failed: ")) << logText();

  // The failure reaches the main queue before the item is replaced, and is delivered after.
  Counts replaced;
  const auto old = load(replaced);
  ASSERT_TRUE(eventually([&] { return speaker.hearsTone(); })) << logText();
  server.resetClients();
  const auto failedLine = "item " + std::to_string(old) + " failed";
  for (int i = 0; i < 1000 && !(log.contains(failedLine) && speaker.hearsSilence()); ++i) {
    std::this_thread::sleep_for(10ms);
  }
  ASSERT_TRUE(log.contains(failedLine) && speaker.hearsSilence()) << logText();
  Counts next;
  load(next);
  ASSERT_TRUE(eventually([&] { return speaker.hearsTone(); })) << logText();
  EXPECT_EQ(replaced.total(), 0);
  EXPECT_EQ(next.total(), 0) << logText();
}

TEST_F(GstPlayerTest, SilentServerStallsAndPlayResumesOnceTheBufferRefills) {
  Counts counts;
  load(counts);
  ASSERT_TRUE(eventually([&] { return speaker.hearsTone(); })) << logText();

  server.setSending(false);
  ASSERT_TRUE(eventually([&] { return counts.stalled > 0; })) << logText();
  EXPECT_TRUE(speaker.hearsSilence());

  // The controller's answer to a stall: play at once, keeping the item. With nothing buffered the
  // stream stays paused: playing it empty would leave it without a forward buffer for good.
  player.play();
  queue.pumpFor(500ms);
  const auto node = *player.currentNodeName();
  EXPECT_NE(audioSession->nodeState(node), "running");

  server.setSending(true);
  EXPECT_TRUE(eventually([&] { return speaker.hearsTone(); })) << logText();
  EXPECT_EQ(audioSession->nodeState(node), "running");
  EXPECT_EQ(counts.stalled, 1);
  EXPECT_EQ(counts.failed + counts.ended, 0) << logText();
  EXPECT_EQ(server.requests(), 1);
}

TEST_F(GstPlayerTest, RouteTargetSendsTheCurrentAndEveryNewItemToThatSink) {
  constexpr auto kRoute = "brontide-test-route";
  ASSERT_TRUE(audioSession->addNullSink(kRoute));
  testsupport::MonitorRecording routed{kRoute};
  player.setRouteTarget(kRoute);

  Counts counts;
  load(counts);
  ASSERT_TRUE(eventually([&] { return routed.hearsTone(); })) << logText();
  EXPECT_TRUE(speaker.hearsSilence());

  // A reload gets a new node, routed the same way.
  load(counts);
  const auto node = *player.currentNodeName();
  EXPECT_TRUE(eventually([&] {
    return audioSession->nodeProperty(node, "target.object") == kRoute && routed.hearsTone() && speaker.hearsSilence();
  })) << logText();

  // A new route takes the playing item along, without a failure or a new item.
  const auto item = player.currentItem();
  player.setRouteTarget(std::nullopt);
  EXPECT_TRUE(eventually([&] { return speaker.hearsTone() && routed.hearsSilence(); })) << logText();
  player.setRouteTarget(kRoute);
  EXPECT_TRUE(eventually([&] { return routed.hearsTone() && speaker.hearsSilence(); })) << logText();
  EXPECT_EQ(player.currentItem(), item);
  EXPECT_EQ(counts.total(), 0) << logText();
}

}  // namespace
}  // namespace brontide::linux::gstreamer

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  // The session's environment must be in place before GStreamer's PipeWire elements connect.
  brontide::testsupport::AudioSession session{false};
  brontide::linux::gstreamer::audioSession = &session;
  // souphttpsrc's proxy lookup reaches dconf over the session bus, and GLib raises SIGTERM when
  // that bus goes away with the session at exit.
  ::setenv("GSETTINGS_BACKEND", "memory", 1);
  gst_init(&argc, &argv);
  pw_init(&argc, &argv);
  return RUN_ALL_TESTS();
}
