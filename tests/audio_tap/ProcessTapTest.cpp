#include "audio_tap/ProcessTap.h"

#include <gtest/gtest.h>

#include "audio_tap/FakeAudioSystem.h"

namespace brontide {
namespace {

using fakes::FakeAudioSystem;
using Step = FakeAudioSystem::Step;

class ProcessTapTest : public ::testing::Test {
 protected:
  MakeSink recordingSink() {
    return [this](const AudioStreamBasicDescription& format) -> std::expected<TapSink, Error> {
      system.calls.push_back("makeSink");
      EXPECT_EQ(format, system.format);
      return TapSink([this](SampleBlock block) { blocks.emplace_back(block.data, block.data + block.count); });
    };
  }

  FakeAudioSystem system;
  std::vector<std::vector<float>> blocks;
};

TEST_F(ProcessTapTest, ProcessTap_StartsInOrderDeliversBlocksAndStopsOnceAtAnyTime) {
  ProcessTap tap(system, {7, 9}, false);
  EXPECT_TRUE(system.calls.empty()) << "nothing exists before start";
  EXPECT_EQ(tap.format(), AudioStreamBasicDescription{});
  ASSERT_TRUE(tap.start(recordingSink()).has_value());
  // The private sink before the sink callback, the callback before the output lookup, then the capture.
  EXPECT_EQ(system.calls, (std::vector<std::string>{"openTap", "format", "makeSink", "defaultOutput", "createCapture",
                                                     "startCapture"}));
  EXPECT_EQ(system.opened.front(), (std::pair<std::vector<AudioObjectID>, bool>{{7, 9}, false}));
  EXPECT_EQ(tap.format(), system.format);
  EXPECT_EQ(tap.unmovableApplications(), std::vector<std::string>{"App"});

  std::vector<float> samples{0.1f, 0.2f, 0.3f, 0.4f};
  system.cycle(SampleBlock{samples.data(), samples.size()});
  ASSERT_EQ(blocks.size(), 1u);
  EXPECT_EQ(blocks[0], samples);

  system.calls.clear();
  tap.stop();
  EXPECT_EQ(system.calls, std::vector<std::string>{"closeTap"});
  EXPECT_TRUE(system.empty());
  EXPECT_TRUE(tap.unmovableApplications().empty());
  EXPECT_EQ(tap.format(), system.format);  // the format outlives the stop
  tap.stop();
  EXPECT_EQ(system.calls.size(), 1u);
}

TEST_F(ProcessTapTest, ProcessTap_PassesTheSinkErrorUnchangedBeforeLookingUpTheOutput) {
  const Error error{ErrorCode::SampleRateUnsupported, "12345"};
  ProcessTap refused(system, {7}, false);
  auto result = refused.start([&](const AudioStreamBasicDescription&) -> std::expected<TapSink, Error> {
    return std::unexpected(error);
  });
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(result.error(), error);
  EXPECT_EQ(system.calls.back(), "format");
  EXPECT_TRUE(refused.running());
  refused.stop();
  EXPECT_TRUE(system.empty());
}

TEST_F(ProcessTapTest, ProcessTap_FailingStepKeepsWhatWasMadeUntilStop) {
  struct Failure {
    Step step;
    Error error;
    bool tap, capture;
  };
  for (const auto& c : {Failure{Step::openTap, {ErrorCode::TapNotOpened, "EIO"}, false, false},
                        Failure{Step::format, {ErrorCode::RateUnknown, {}}, true, false},
                        Failure{Step::output, {ErrorCode::NoOutput, {}}, true, false},
                        Failure{Step::createCapture, {ErrorCode::CaptureNotCreated, "EIO"}, true, false},
                        Failure{Step::startCapture, {ErrorCode::CaptureNotStarted, "EIO"}, true, true}}) {
    SCOPED_TRACE(logText(c.error));
    system = FakeAudioSystem();
    system.failAt = c.step;
    {
      ProcessTap tap(system, {7}, false);
      auto result = tap.start(recordingSink());
      ASSERT_FALSE(result.has_value());
      EXPECT_EQ(result.error(), c.error);
      EXPECT_EQ(system.openTaps, c.tap ? 1 : 0);
      EXPECT_EQ(system.captures, c.capture ? 1 : 0);
      EXPECT_TRUE(system.running.empty());
      tap.stop();
      EXPECT_TRUE(system.empty());
      tap.stop();
    }
    EXPECT_TRUE(system.empty());
  }
}

AudioClient client(AudioObjectID object, std::vector<std::optional<std::string>> streams,
                   std::optional<std::int32_t> pid = std::nullopt) {
  return AudioClient{object, pid, "", streams.empty() ? std::nullopt : streams.front(), std::move(streams)};
}

TEST(AudioProcessObjects, MatchesPrefixInServerOrderLeavingOutThisProcess) {
  fakes::FakeAudioSystem system;
  system.pid = 500;
  system.clients = {
      client(30, {"com.spotify.client"}),
      client(31, {}),  // no output stream
      client(32, {std::nullopt, "com.spotify.client.helper"}),
      client(33, {std::nullopt}),  // unreadable
      client(34, {"org.gnome.totem", "com.spotify.client"}, 900),
      client(35, {"com.spotify.client"}, 500),  // this very process
      client(30, {"com.spotify.client"}),       // listed twice: kept twice
      client(36, {"Com.Spotify.Client"}),
  };
  const std::vector<std::pair<std::string, std::vector<AudioObjectID>>> cases = {
      {"com.spotify.client", {30, 32, 34, 30}}, {"com.spot", {30, 32, 34, 30}}, {"com.spotify.client.", {32}},
      {"", {30, 32, 34, 30, 36}}, {"Com.Spotify", {36}}, {"org.videolan", {}}};
  for (const auto& [prefix, expected] : cases) EXPECT_EQ(audioProcessObjects(system, prefix), expected) << prefix;
  system.clients.clear();
  EXPECT_TRUE(audioProcessObjects(system, "").empty());
}

}  // namespace
}  // namespace brontide
