#include "linux/pipewire/PipeWireAirPlayOutput.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <pipewire/pipewire.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <set>
#include <utility>

#include "base/VolumeLaws.h"
#include "fakes/VirtualMainQueue.h"
#include "linux/avahi/Rig.h"
#include "support/AudioSession.h"
#include "support/ReceiverPcm.h"

namespace brontide::linux::pipewire {
namespace {

using namespace std::chrono_literals;
using testsupport::AudioSession;
using testsupport::ChildProcess;
using testsupport::sinkTone;

constexpr auto kLimit = 20s;  // guards against hangs only
constexpr const char* kPlayerNode = "brontide.test.player";

using ReceiverTap = testsupport::ReceiverPcm;

// As the routes choose for the test receivers (et=0,1: plain audio).
AirPlayReceiver receiver(std::string name, std::uint16_t port) {
  return {.name = std::move(name), .address = "127.0.0.1", .port = port, .encryption = AirPlayEncryption::none,
          .password = {}};
}

class PipeWireAirPlayOutputTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    pw_init(nullptr, nullptr);
    rig::useNetwork();
    session = std::make_unique<AudioSession>(false);
    tone = testsupport::writeToneWav(session->dir() + "/tone440.wav", 440, 60);
  }
  static void TearDownTestSuite() { session.reset(); }

  void SetUp() override {
    ASSERT_NE(std::getenv("BRONTIDE_RECEIVERS_DIR"), nullptr) << "no AirPlay receivers: scripts/airplay-network up";
    for (const char* name : {"Terraza", "Estudio"}) ASSERT_EQ(rig::command(std::string("start-receiver ") + name), 0);
    output = std::make_unique<PipeWireAirPlayOutput>(
        queue, log, PipeWireAirPlayOutput::Options{.routePlayer = [this](std::optional<std::string> sink) {
          route = std::move(sink);
          if (player) play();  // a player restarts its stream on a new route
        }});
    output->setHandlers({.connected = [this](AirPlayOutput::SinkId id) { connected.insert(id); },
                         .streaming = [this](AirPlayOutput::SinkId id) { streaming.insert(id); },
                         .failed = [this](AirPlayOutput::SinkId id, const std::string&) { failed.insert(id); }});
  }
  void TearDown() override {
    player.reset();
    output.reset();
    queue.pumpFor(100ms);
  }

  // Plays the 440 Hz tone as the "player", on the route the output under test asked for.
  void play() {
    player.reset();
    std::vector<std::string> command{"pw-play", "-P", std::string("{ node.name = ") + kPlayerNode + " }"};
    if (route) command.insert(command.end(), {"--target", *route});
    command.push_back(tone);
    player = std::make_unique<ChildProcess>(command);
  }
  AirPlayOutput::SinkId openAndStream(const AirPlayReceiver& r, double volume = 1.0) {
    const auto id = output->open(r, volume);
    EXPECT_TRUE(queue.pumpUntil([&] { return streaming.contains(id) || failed.contains(id); }, kLimit));
    EXPECT_TRUE(streaming.contains(id)) << r.name << " never took the stream";
    return id;
  }
  // A receiver starts each session with silence, and back-to-back sessions may run into each other: the tone
  // has arrived once half a second of it has played.
  bool toneArrives(ReceiverTap& tap, double gain = 1.0) {
    tap.mark();
    const double heard = ReceiverTap::kHeard * gain;
    return queue.pumpUntil([&] { return tap.secondsSinceMark() >= 0.5 && tap.tone() > heard; }, kLimit);
  }
  bool playsFor(ReceiverTap& tap, double seconds) {
    tap.mark();
    return queue.pumpUntil([&] { return tap.secondsSinceMark() >= seconds; }, kLimit);
  }

  static inline std::unique_ptr<AudioSession> session;
  static inline std::string tone;
  fakes::VirtualMainQueue queue;
  rig::EchoLog log;
  std::unique_ptr<PipeWireAirPlayOutput> output;
  std::unique_ptr<ChildProcess> player;
  std::optional<std::string> route;
  std::set<AirPlayOutput::SinkId> connected, streaming, failed;
};

TEST_F(PipeWireAirPlayOutputTest, OneReceiver_CarriesThePlayersToneUntilBackToTheComputer) {
  output->routeToReceivers();
  const auto terraza = output->open(receiver("Terraza", 5101), 1.0);
  ASSERT_TRUE(queue.pumpUntil([&] { return connected.contains(terraza); }, kLimit));
  play();
  ASSERT_TRUE(queue.pumpUntil([&] { return streaming.contains(terraza); }, kLimit));
  ReceiverTap tap("Terraza");
  EXPECT_TRUE(toneArrives(tap));
  EXPECT_LT(sinkTone(440), 0.01);

  ASSERT_TRUE(route.has_value());
  output->routeToDefault();
  EXPECT_EQ(route, std::nullopt);
  queue.pumpFor(300ms);
  EXPECT_GT(sinkTone(440), 0.2);

  // Chosen again while the sink still lingers: the player goes straight back to it.
  output->routeToReceivers();
  ASSERT_TRUE(queue.pumpUntil([&] { return route.has_value(); }, kLimit));
  EXPECT_EQ(*route, PipeWireAirPlayOutput::kFanOutSinkName);

  // Quitting closes the sinks on the loop thread and says so on the main queue; the destructor has nothing left.
  bool closed = false;
  output->shutdown([&] { closed = true; });
  EXPECT_TRUE(queue.pumpUntil([&] { return closed; }, kLimit));
  EXPECT_TRUE(testsupport::eventually([&] {
    return !AudioSession::nodeExists(PipeWireAirPlayOutput::sinkNodeName(terraza)) &&
           !AudioSession::nodeExists(PipeWireAirPlayOutput::kFanOutSinkName);
  }));
}

double dB(double ratio) { return 20 * std::log10(ratio); }

// The slider's position v is the receiver's own volume where the sink sends one (AirPlay 30·v − 30 dB, nothing
// applied here); elsewhere a gain of v³ applied here once, the receiver keeping its own.
TEST_F(PipeWireAirPlayOutputTest, TwoReceivers_EachPlaysAtItsOwnVolumeSetBeforeItConnects) {
  output->routeToReceivers();
  play();
  ReceiverTap terrazaTap("Terraza"), estudioTap("Estudio");
  const auto terraza = openAndStream(receiver("Terraza", 5101), 1.0);
  openAndStream(receiver("Estudio", 5102), 0.5);
  ASSERT_TRUE(toneArrives(terrazaTap));
  ASSERT_TRUE(toneArrives(estudioTap, output->sendsVolume() ? 1.0 : volume::speakerChannelVolume(0.5)));

  const double fanOut = sinkTone(440, 0.5, PipeWireAirPlayOutput::kFanOutSinkName);
  ASSERT_TRUE(playsFor(terrazaTap, 1.0));
  const double full = terrazaTap.tone(440, 1.0), half = estudioTap.tone(440, 1.0);
  std::printf("levels: player 0.5, fan-out %.4f, receiver at 100 %% %.4f (%+.1f dB), at 50 %% %.4f (%+.1f dB)\n",
              fanOut, full, dB(full / fanOut), half, dB(half / fanOut));
  EXPECT_NEAR(dB(fanOut / 0.5), 0, 0.5) << "the fan-out sink carries the player's sound as it is";
  if (output->sendsVolume()) {
    EXPECT_NEAR(dB(full / fanOut), 0, 1.0) << "a receiver at 100 % plays what it is sent";
    EXPECT_LT(half, full / 2);
    // Each is sent its own volume and no other; one may set its own start volume while its session starts, and
    // still ends at the one it was sent.
    for (const auto& [tap, volume] : {std::pair{&terrazaTap, volume::airPlayVolumeDb(1.0)}, std::pair{&estudioTap, volume::airPlayVolumeDb(0.5)}}) {
      const auto heard = tap->volumes();
      ASSERT_FALSE(heard.empty());
      auto allowed = tap->ownStartVolumes();
      allowed.push_back(volume);
      EXPECT_THAT(heard, testing::Each(testing::AnyOfArray(allowed)));
      EXPECT_EQ(heard.back(), volume);
    }
  } else {
    EXPECT_NEAR(dB(half / full), dB(volume::speakerChannelVolume(0.5)), 1.0) << "the gain is applied once";
  }

  terrazaTap.markVolumes();
  output->setVolume(terraza, 0.0);
  queue.pumpFor(300ms);  // the receiver's own buffer still holds sound at the old volume
  ASSERT_TRUE(playsFor(terrazaTap, 1.0));
  EXPECT_LT(terrazaTap.tone(440, 0.5), ReceiverTap::kHeard / 4) << "at 0 the receiver is silent";
  if (output->sendsVolume()) {
    EXPECT_THAT(terrazaTap.volumes(), testing::Contains(volume::kAirPlayMute));
  }
}

}  // namespace
}  // namespace brontide::linux::pipewire
