#include <gtest/gtest.h>
#include <pipewire/pipewire.h>

#include <algorithm>
#include <mutex>

#include "linux/pipewire/PipeWireCapture.h"
#include "support/AudioSession.h"

namespace brontide::linux::pipewire {
namespace {

using namespace std::chrono_literals;
using namespace testsupport;

constexpr double kPresent = 0.3;  // the sources play at amplitude 0.5
constexpr double kAbsent = 0.02;

struct TestLog final : Log {
  std::mutex mutex;
  std::vector<std::string> lines;
  void notice(const std::string& line) override {
    std::lock_guard lock(mutex);
    lines.push_back(line);
  }
};

// Collects what a tap delivers (the test's sink; a lock is fine here).
class Collector {
 public:
  MakeSink makeSink() {
    return [this](const AudioStreamBasicDescription& format) -> std::expected<TapSink, TapError> {
      EXPECT_EQ(format.mChannelsPerFrame, 2u);
      EXPECT_EQ(format.mSampleRate, 48000.0);
      return TapSink([this](SampleBlock block) {
        std::lock_guard lock(mutex_);
        ++blocks_;
        samples_.insert(samples_.end(), block.data, block.data + block.count);
      });
    };
  }
  // The left channel of the next `seconds` of capture (empty if nothing arrives).
  std::vector<float> next(double seconds) {
    const std::size_t wanted = std::size_t(seconds * 48000) * 2;
    {
      std::lock_guard lock(mutex_);
      samples_.clear();
    }
    eventually([&] {
      std::lock_guard lock(mutex_);
      return samples_.size() >= wanted;
    }, 5s);
    std::lock_guard lock(mutex_);
    return leftChannel(samples_);
  }
  std::size_t blocks() {
    std::lock_guard lock(mutex_);
    return blocks_;
  }

 private:
  std::mutex mutex_;
  std::vector<float> samples_;
  std::size_t blocks_ = 0;
};

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

  std::unique_ptr<ChildProcess> play(const std::string& id, int frequency, const std::string& extra = "") {
    return std::make_unique<ChildProcess>(std::vector<std::string>{
        "pw-play", "--properties",
        "{ application.id = \"" + id + "\" application.name = \"App " + std::to_string(frequency) + "\" " + extra + " }",
        wav(frequency)});
  }
  std::vector<AudioObjectID> waitForObjects(const std::string& prefix, std::size_t count = 1) {
    std::vector<AudioObjectID> objects;
    eventually([&] { return (objects = capture.audioProcessObjects(prefix)).size() >= count; });
    return objects;
  }
  static double sinkLevel(double frequency, double seconds = 0.3) {
    auto samples = recordSinkMonitor(kDefaultSink, seconds, session_->dir());
    return toneAmplitude(samples, frequency);
  }
  // The node id of the stream with this application.id, through pw-dump.
  static std::string nodeIdOf(const std::string& appId) {
    auto out = runCommand("pw-dump | python3 -c 'import json,sys\nfor o in json.load(sys.stdin):\n"
                          " p=(o.get(\"info\") or {}).get(\"props\") or {}\n"
                          " if p.get(\"application.id\")==\"" + appId + "\" and p.get(\"media.class\")==\"Stream/Output/Audio\": print(o[\"id\"])'");
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
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
    auto out = runCommand("pw-metadata -n default " + node + " 2>/dev/null | grep -E \"key:'target\\.(node|object)'\" | sort");
    return out;
  }

  ::testing::AssertionResult started(CaptureTap& tap) {
    auto result = tap.start(collector.makeSink());
    if (result) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << result.error().errorDescription();
  }

  static AudioSession* session_;
  TestLog log;
  pipewire::PipeWireCapture capture{log};
  pipewire::PipeWireAudioSystem& system = capture.audioSystem();
  Collector collector;
};

AudioSession* PipeWireCaptureTest::session_ = nullptr;

TEST_F(PipeWireCaptureTest, Tap_CapturesOnlyTheTappedAppAndGivesItBack) {
  auto a = play("org.brontide.test.a", 440);
  auto b = play("org.brontide.test.b", 1000);
  auto objects = waitForObjects("org.brontide.test.a");
  ASSERT_EQ(objects.size(), 1u);
  EXPECT_EQ(waitForObjects("org.brontide.test", 2).size(), 2u);
  EXPECT_TRUE(capture.audioProcessObjects("org.brontide.test.A").empty());

  const auto node = nodeIdOf("org.brontide.test.a");
  ASSERT_FALSE(node.empty());
  runCommand("pw-metadata -n default " + node + " target.object " + kDefaultSink + " Spa:String >/dev/null");
  ASSERT_TRUE(eventually([&] { return !routingOf(node).empty(); }));
  const auto routingBefore = routingOf(node);

  auto tap = capture.makeTap(objects, false);
  ASSERT_TRUE(started(*tap));
  EXPECT_TRUE(eventually([&] {
    auto captured = collector.next(0.3);
    return toneAmplitude(captured, 440) > kPresent && toneAmplitude(captured, 1000) < kAbsent;
  })) << "the tap should carry the first app at its own level and nothing else";
  EXPECT_TRUE(eventually([&] { return sinkLevel(440) < kAbsent; })) << "the tapped app is still heard";
  EXPECT_GT(sinkLevel(1000), kPresent);

  tap->stop();
  tap.reset();
  EXPECT_TRUE(eventually([&] { return sinkLevel(440) > kPresent; })) << "the app did not come back after stop";
  EXPECT_GT(sinkLevel(1000), kPresent);
  EXPECT_TRUE(eventually([&] { return routingOf(node) == routingBefore; })) << routingOf(node);
}

TEST_F(PipeWireCaptureTest, Tap_CapturesStreamsOpenedWhileItRunsAndSilenceAfterTheAppQuits) {
  ChildProcess app({TONE_SOURCE, "org.brontide.test.multi", "Multi", "500", "700"}, true);
  ASSERT_EQ(app.readLine(), "playing");
  auto objects = waitForObjects("org.brontide.test.multi");
  auto tap = capture.makeTap(objects, false);
  ASSERT_TRUE(started(*tap));
  ASSERT_TRUE(eventually([&] { return toneAmplitude(collector.next(0.2), 500) > 0.2; }));

  app.signal(SIGUSR1);  // opens a second stream in the same client
  EXPECT_TRUE(eventually([&] {
    auto captured = collector.next(0.3);
    return toneAmplitude(captured, 500) > 0.2 && toneAmplitude(captured, 700) > 0.2;
  }));
  EXPECT_TRUE(eventually([&] { return sinkLevel(700) < kAbsent; })) << "the new stream is still heard";

  app.stop(SIGTERM);
  EXPECT_TRUE(eventually([&] {
    auto captured = collector.next(0.2);
    return !captured.empty() && std::ranges::all_of(captured, [](float s) { return s == 0.0f; });
  })) << "after the app quits the tap should deliver silence";
  tap->stop();
}

TEST_F(PipeWireCaptureTest, Tap_ReplacedByATapOfTheSameAppCausesNoLocalBlip) {
  auto a = play("org.brontide.test.swap", 440);
  auto objects = waitForObjects("org.brontide.test.swap");
  auto first = capture.makeTap(objects, false);
  ASSERT_TRUE(started(*first));
  ASSERT_TRUE(eventually([&] { return sinkLevel(440) < kAbsent; }));

  MonitorRecording recording(kDefaultSink, session_->dir());
  std::this_thread::sleep_for(300ms);
  first->stop();
  auto second = capture.makeTap(capture.audioProcessObjects("org.brontide.test.swap"), false);
  ASSERT_TRUE(started(*second));
  std::this_thread::sleep_for(700ms);
  auto samples = recording.finish();
  ASSERT_GT(samples.size(), 48000u / 2);
  double loudest = 0;
  for (std::size_t i = 0; i + 960 <= samples.size(); i += 480)
    loudest = std::max(loudest, toneAmplitude(std::span(samples).subspan(i, 960), 440));
  EXPECT_LT(loudest, 0.05) << "the app leaked onto the output while the tap was replaced";
  EXPECT_GT(toneAmplitude(collector.next(0.3), 440), kPresent);
  second->stop();
}

TEST_F(PipeWireCaptureTest, Lookup_FindsAPulseClientByItsBinaryAndReportsUnmovableStreams) {
  ChildProcess paplay({"paplay", wav(660)});
  auto objects = waitForObjects("pacat");
  ASSERT_EQ(objects.size(), 1u) << describeClients();
  auto tap = capture.makeTap(objects, false);
  ASSERT_TRUE(started(*tap));
  EXPECT_TRUE(eventually([&] { return toneAmplitude(collector.next(0.3), 660) > kPresent; }));
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

TEST_F(PipeWireCaptureTest, Tap_KilledTapperGivesTheAppBack) {
  auto a = play("org.brontide.test.killed", 440);
  waitForObjects("org.brontide.test.killed");
  ChildProcess tapper({CAPTURE_CHILD, "org.brontide.test.killed"}, true);
  ASSERT_EQ(tapper.readLine(), "started");
  ASSERT_TRUE(eventually([&] { return sinkLevel(440) < kAbsent; }));
  tapper.stop(SIGKILL);
  EXPECT_TRUE(eventually([&] { return sinkLevel(440) > kPresent; })) << "the app stayed silent after a kill -9";

  // A new instance clears what the killed one left and captures again.
  auto tap = capture.makeTap(waitForObjects("org.brontide.test.killed"), false);
  ASSERT_TRUE(started(*tap));
  EXPECT_TRUE(eventually([&] { return toneAmplitude(collector.next(0.3), 440) > kPresent; }));
  tap->stop();
  tap.reset();
  EXPECT_TRUE(eventually([&] { return sinkLevel(440) > kPresent; }));
}

TEST_F(PipeWireCaptureTest, Tap_SurvivesASessionManagerRestart) {
  auto a = play("org.brontide.test.restart", 440);
  auto tap = capture.makeTap(waitForObjects("org.brontide.test.restart"), false);
  ASSERT_TRUE(started(*tap));
  ASSERT_TRUE(eventually([&] { return toneAmplitude(collector.next(0.3), 440) > kPresent; }));

  session_->stopWirePlumber();
  ASSERT_TRUE(session_->startWirePlumber());
  EXPECT_TRUE(eventually([&] { return toneAmplitude(collector.next(0.3), 440) > kPresent; }))
      << "the tap did not capture again after the restart";
  EXPECT_TRUE(eventually([&] { return sinkLevel(440) < kAbsent; }));
  tap->stop();
  EXPECT_TRUE(eventually([&] { return sinkLevel(440) > kPresent; })) << "the app did not come back after stop";
}

TEST_F(PipeWireCaptureTest, AudioSystem_ReconnectsAfterTheSoundServerRestarts) {
  auto before = play("org.brontide.test.before", 1000);
  auto old = capture.makeTap(waitForObjects("org.brontide.test.before"), false);
  ASSERT_TRUE(started(*old));

  ASSERT_TRUE(session_->restart());
  old->stop();  // its objects went with the server: stopping must still be safe
  auto after = play("org.brontide.test.after", 440);
  auto objects = waitForObjects("org.brontide.test.after");
  ASSERT_EQ(objects.size(), 1u) << "the lookup did not see the new server";
  EXPECT_TRUE(system.available());
  auto tap = capture.makeTap(objects, false);
  ASSERT_TRUE(started(*tap));
  EXPECT_TRUE(eventually([&] { return toneAmplitude(collector.next(0.3), 440) > kPresent; }));
  tap->stop();
}

TEST_F(PipeWireCaptureTest, GlobalTap_CapturesTheDefaultOutputAndMovesNothing) {
  auto a = play("org.brontide.test.global", 1000);
  waitForObjects("org.brontide.test.global");
  auto tap = capture.makeTap({}, true);
  ASSERT_TRUE(started(*tap));
  EXPECT_TRUE(eventually([&] { return toneAmplitude(collector.next(0.3), 1000) > kPresent; }));
  EXPECT_GT(sinkLevel(1000), kPresent);
  EXPECT_FALSE(system.tapSinkNode().has_value());
  tap->stop();
}

}  // namespace
}  // namespace brontide::linux::pipewire
