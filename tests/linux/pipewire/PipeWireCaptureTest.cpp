#include <gtest/gtest.h>
#include <pipewire/pipewire.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>

#include "linux/pipewire/PipeWireCapture.h"
#include "fakes/RecordingLog.h"
#include "support/AudioSession.h"

namespace brontide::linux::pipewire {
namespace {

using namespace std::chrono_literals;
using namespace testsupport;

constexpr double kPresent = 0.3;  // the sources play at amplitude 0.5
constexpr double kAbsent = 0.02;

class PipeWireCaptureTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    session_ = new AudioSession(true);
    pw_init(nullptr, nullptr);
    for (int f : {440, 660, 1000}) writeToneWav(wav(f), f, 30);
  }
  static void TearDownTestSuite() {
    delete session_;
    session_ = nullptr;
  }
  static std::string wav(int frequency) { return session_->dir() + "/tone" + std::to_string(frequency) + ".wav"; }

  // Plays a tone from a client whose node is named after its application id.
  std::unique_ptr<ChildProcess> play(const std::string& id, int frequency, const std::string& extra = "") {
    return std::make_unique<ChildProcess>(std::vector<std::string>{
        "pw-play", "--properties",
        "{ application.id = \"" + id + "\" node.name = \"" + id + "\" application.name = \"App " +
            std::to_string(frequency) + "\" " + extra + " }",
        wav(frequency)});
  }
  std::vector<AudioObjectID> waitForObjects(const std::string& prefix, std::size_t count = 1) {
    std::vector<AudioObjectID> objects;
    eventually([&] { return (objects = capture.audioProcessObjects(prefix)).size() >= count; });
    return objects;
  }
  std::string describeClients() {
    std::string text;
    for (const auto& client : system.audioClients()) {
      text += std::to_string(client.object) + " " + client.name + " " + client.identity.value_or("-") + " [";
      for (const auto& id : client.streamIdentities) text += id.value_or("-") + " ";
      text += "]\n";
    }
    return text;
  }
  static std::string routingOf(const std::string& node) {
    return runCommand("pw-metadata -n default " + node + " 2>/dev/null | grep -E \"key:'target\\.(node|object)'\" | sort");
  }

  // Starts a tap into the test's sink, which keeps the left channel (a lock is fine here).
  ::testing::AssertionResult started(CaptureTap& tap) {
    auto result = tap.start([this](const AudioStreamBasicDescription& format) -> std::expected<TapSink, Error> {
      EXPECT_EQ(format.mChannelsPerFrame, 2u);
      EXPECT_EQ(format.mSampleRate, 48000.0);
      return TapSink([this](SampleBlock block) {
        std::lock_guard lock(mutex_);
        for (std::size_t i = 0; i + 1 < block.count; i += 2) captured_.push_back(block.data[i]);
      });
    });
    if (result) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << logText(result.error());
  }
  // The next `seconds` the taps deliver (less if they stop delivering).
  std::vector<float> captured(double seconds) {
    {
      std::lock_guard lock(mutex_);
      captured_.clear();
    }
    eventually([&] {
      std::lock_guard lock(mutex_);
      return captured_.size() >= std::size_t(seconds * 48000);
    }, 5s);
    std::lock_guard lock(mutex_);
    return captured_;
  }

  static AudioSession* session_;
  fakes::RecordingLog log;
  pipewire::PipeWireCapture capture{log};
  pipewire::PipeWireAudioSystem& system = capture.audioSystem();
  std::mutex mutex_;
  std::vector<float> captured_;
};

AudioSession* PipeWireCaptureTest::session_ = nullptr;

TEST_F(PipeWireCaptureTest, Tap_IsReplacedWithoutABlipAndGivesTheAppBackRoutedAsBefore) {
  auto a = play("org.brontide.test.a", 440);
  auto b = play("org.brontide.test.b", 1000);
  auto objects = waitForObjects("org.brontide.test.a");
  ASSERT_EQ(objects.size(), 1u);
  EXPECT_EQ(waitForObjects("org.brontide.test", 2).size(), 2u);
  EXPECT_TRUE(capture.audioProcessObjects("org.brontide.test.A").empty());

  const auto node = AudioSession::nodeProperty("org.brontide.test.a", "object.id").value_or("");
  ASSERT_FALSE(node.empty());
  runCommand("pw-metadata -n default " + node + " target.object " + kDefaultSink + " Spa:String >/dev/null");
  ASSERT_TRUE(eventually([&] { return !routingOf(node).empty(); }));
  const auto routingBefore = routingOf(node);

  auto first = capture.makeTap(objects, false);
  ASSERT_TRUE(started(*first));
  ASSERT_TRUE(eventually([&] { return sinkTone(440) < kAbsent; })) << "the tapped app is still heard";

  // A tap of the same app taking over leaves nothing of it on the output meanwhile.
  MonitorRecording recording(kDefaultSink);
  std::this_thread::sleep_for(300ms);
  first->stop();
  auto second = capture.makeTap(capture.audioProcessObjects("org.brontide.test.a"), false);
  ASSERT_TRUE(started(*second));
  std::this_thread::sleep_for(700ms);
  auto samples = recording.finish();
  ASSERT_GT(samples.size(), 48000u / 2);
  double loudest = 0;
  for (std::size_t i = 0; i + 960 <= samples.size(); i += 480)
    loudest = std::max(loudest, toneAmplitude(std::span(samples).subspan(i, 960), 440));
  EXPECT_LT(loudest, 0.05) << "the app leaked onto the output while the tap was replaced";
  EXPECT_GT(toneAmplitude(captured(0.3), 440), kPresent);

  second->stop();
  second.reset();
  first.reset();
  EXPECT_TRUE(eventually([&] { return sinkTone(440) > kPresent; })) << "the app did not come back after stop";
  EXPECT_TRUE(eventually([&] { return routingOf(node) == routingBefore; })) << routingOf(node);
}

TEST_F(PipeWireCaptureTest, Tap_CapturesStreamsOpenedWhileItRuns) {
  ChildProcess app({TONE_SOURCE, "org.brontide.test.multi", "Multi", "500", "700"}, true);
  ASSERT_EQ(app.readLine(), "playing");
  auto objects = waitForObjects("org.brontide.test.multi");
  auto tap = capture.makeTap(objects, false);
  ASSERT_TRUE(started(*tap));
  ASSERT_TRUE(eventually([&] { return toneAmplitude(captured(0.2), 500) > 0.2; }));

  app.signal(SIGUSR1);  // opens a second stream in the same client
  EXPECT_TRUE(eventually([&] {
    auto heard = captured(0.3);
    return toneAmplitude(heard, 500) > 0.2 && toneAmplitude(heard, 700) > 0.2;
  }));
  EXPECT_TRUE(eventually([&] { return sinkTone(700) < kAbsent; })) << "the new stream is still heard";

  // Quitting gives both streams back at once, without the grace a stop leaves, and then takes the sink away.
  tap->stop();
  std::atomic<bool> closed = false;
  system.shutdown([&] { closed = true; });
  EXPECT_TRUE(eventually([&] { return closed.load(); }));
  EXPECT_FALSE(system.tapSinkNode().has_value());
  EXPECT_TRUE(eventually([&] { return sinkTone(500) > kPresent && sinkTone(700) > kPresent; }))
      << "the streams did not come back after the shutdown";
}

TEST_F(PipeWireCaptureTest, Lookup_FindsAPulseClientByItsBinaryAndReportsUnmovableStreams) {
  ChildProcess paplay({"paplay", wav(660)});
  auto objects = waitForObjects("pacat");
  ASSERT_EQ(objects.size(), 1u) << describeClients();
  auto tap = capture.makeTap(objects, false);
  ASSERT_TRUE(started(*tap));
  EXPECT_TRUE(eventually([&] { return toneAmplitude(captured(0.3), 660) > kPresent; }));
  EXPECT_TRUE(tap->unmovableApplications().empty());
  tap->stop();

  auto stubborn = play("org.brontide.test.stubborn", 1000, "node.dont-reconnect = true");
  auto stubbornObjects = waitForObjects("org.brontide.test.stubborn");
  auto refused = capture.makeTap(stubbornObjects, false);
  ASSERT_TRUE(started(*refused));
  EXPECT_TRUE(eventually([&] { return !refused->unmovableApplications().empty(); }));
  EXPECT_EQ(refused->unmovableApplications(), std::vector<std::string>{"App 1000"});
  refused->stop();
}

TEST_F(PipeWireCaptureTest, Tap_KilledTapperGivesTheAppBackAndTheNextClearsWhatItLeft) {
  auto a = play("org.brontide.test.killed", 440);
  waitForObjects("org.brontide.test.killed");
  ChildProcess tapper({CAPTURE_CHILD, "org.brontide.test.killed"}, true);
  ASSERT_EQ(tapper.readLine(), "started");
  ASSERT_TRUE(eventually([&] { return sinkTone(440) < kAbsent; }));
  const auto killed = std::chrono::steady_clock::now();
  tapper.stop(SIGKILL);
  EXPECT_TRUE(eventually([&] { return sinkTone(440) > kPresent; })) << "the app stayed silent after a kill -9";
  std::printf("the app is heard on the output again %.1f s after the kill -9\n",
              std::chrono::duration<double>(std::chrono::steady_clock::now() - killed).count());

  // A new instance clears what the killed one left and captures again.
  auto tap = capture.makeTap(waitForObjects("org.brontide.test.killed"), false);
  ASSERT_TRUE(started(*tap));
  EXPECT_TRUE(eventually([&] { return toneAmplitude(captured(0.3), 440) > kPresent; }));
  EXPECT_TRUE(eventually([&] { return sinkTone(440) < kAbsent; }));
  tap->stop();
  tap.reset();
  EXPECT_TRUE(eventually([&] { return sinkTone(440) > kPresent; })) << "the app did not come back after stop";
}

TEST_F(PipeWireCaptureTest, AudioSystem_ReconnectsAfterTheSoundServerRestarts) {
  auto before = play("org.brontide.test.before", 1000);
  auto old = capture.makeTap(waitForObjects("org.brontide.test.before"), false);
  ASSERT_TRUE(started(*old));

  ASSERT_TRUE(session_->restart());
  // The daemon is back: no check calls it absent, one says the taps went with the old one.
  std::optional<Error> problem;
  EXPECT_TRUE(eventually([&] { return (problem = capture.unavailable()) || capture.restarted(); }));
  EXPECT_FALSE(problem) << logText(*problem);
  old->stop();  // its objects went with the server: stopping must still be safe
  auto after = play("org.brontide.test.after", 440);
  auto objects = waitForObjects("org.brontide.test.after");
  ASSERT_EQ(objects.size(), 1u) << "the lookup did not see the new server";
  EXPECT_TRUE(system.available());
  auto tap = capture.makeTap(objects, false);
  ASSERT_TRUE(started(*tap));
  EXPECT_TRUE(eventually([&] { return toneAmplitude(captured(0.3), 440) > kPresent; }));
  tap->stop();
}

TEST_F(PipeWireCaptureTest, GlobalTap_CapturesTheDefaultOutputAndMovesNothing) {
  auto a = play("org.brontide.test.global", 1000);
  waitForObjects("org.brontide.test.global");
  auto tap = capture.makeTap({}, true);
  ASSERT_TRUE(started(*tap));
  EXPECT_TRUE(eventually([&] { return toneAmplitude(captured(0.3), 1000) > kPresent; }));
  EXPECT_GT(sinkTone(1000), kPresent);
  EXPECT_FALSE(system.tapSinkNode().has_value());
  tap->stop();
}

}  // namespace
}  // namespace brontide::linux::pipewire
