#include "controller/ControllerFixture.h"

namespace brontide {
namespace {

using Field = Controller::Field;

using Controller_Lifecycle = ControllerTest;

TEST_F(Controller_Lifecycle, StartWaitsForTheServerWithTwoTimers) {
  addSource(7);
  auto& c = make();
  c.start();
  c.start();  // the onboarding flow may call it again
  queue.advance(4s);
  EXPECT_TRUE(c.running());
  EXPECT_EQ(c.state(), CaptureState::waiting());
  EXPECT_EQ(c.detail(), "Arrancando\u2026");
  EXPECT_EQ(queue.activeTimers(), 2);
  EXPECT_EQ(servers.attempts, 1);
  EXPECT_TRUE(capture.taps.empty()) << "no attach before the port is known";
}

TEST_F(Controller_Lifecycle, ServerFailuresShowTheirMessageAndOnlyACreationFailureStops) {
  addSource(7);
  servers.failures = {"Puerto ocupado"};
  auto& c = make();
  c.start();
  EXPECT_FALSE(c.running());
  EXPECT_EQ(c.state(), CaptureState::error("Puerto ocupado"));
  EXPECT_EQ(c.detail(), "Puerto ocupado");
  EXPECT_EQ(queue.activeTimers(), 0);

  startReady();  // a later start works
  EXPECT_EQ(servers.made.size(), 1u);
  servers.latest().fail("Conexión perdida");  // while running: tap and timers stay
  EXPECT_EQ(c.state(), CaptureState::error("Conexión perdida"));
  EXPECT_EQ(c.detail(), "Conexión perdida");
  EXPECT_TRUE(c.running());
  EXPECT_EQ(queue.activeTimers(), 2);
  EXPECT_EQ(capture.liveTaps(), 1);
}

TEST_F(Controller_Lifecycle, StopReleasesEverything) {
  for (const bool live : {false, true}) {
    SCOPED_TRACE(live ? "live" : "waiting");
    capture.processes.clear();
    if (live) addSource(7);
    auto& c = startReady();
    c.stop();
    EXPECT_FALSE(c.running());
    EXPECT_EQ(c.state(), CaptureState::stopped());
    EXPECT_EQ(c.detail(), "");
    EXPECT_EQ(c.port(), 0);
    EXPECT_EQ(queue.activeTimers(), 0);
    EXPECT_TRUE(servers.latest().server.expired());
    EXPECT_EQ(capture.liveTaps(), 0);
    EXPECT_EQ(encoders.latest(), nullptr);
    EXPECT_EQ(player.currentItem(), 0u);
    EXPECT_TRUE(player.observations.empty());
  }
}

TEST_F(Controller_Lifecycle, AutoStartNeedsOnboardingAndPermission) {
  struct Row {
    const char* autoStart;
    const char* onboarded;
    bool allow;
    bool runs;
  };
  for (const auto& row : {Row{"true", "true", true, true}, Row{"true", "false", true, false},
                          Row{"TRUE", "True", true, true}, Row{"true", "true", false, false},
                          Row{"yes", "true", true, false}}) {
    SCOPED_TRACE(std::string(row.autoStart) + "/" + row.onboarded);
    preferences = fakes::MemoryPreferences{{"autoStart", row.autoStart}, {"onboarded", row.onboarded}};
    EXPECT_EQ(make(row.allow).running(), row.runs);
    EXPECT_TRUE(preferences.writes.empty()) << "nothing is written at construction";
  }
  EXPECT_EQ(discovery.starts, 5);
  EXPECT_TRUE(player.allowsExternalPlayback);
  EXPECT_TRUE(player.waitsToMinimizeStalling);
}

TEST_F(Controller_Lifecycle, CallbacksOfAnEarlierRunOrAGoneControllerDoNothing) {
  addSource(7);
  auto& c = make();
  c.start();
  const auto first = servers.latest();
  c.stop();
  c.start();
  first.ready(1111);
  first.fail("tarde");
  EXPECT_EQ(c.port(), 0);
  EXPECT_EQ(c.state(), CaptureState::waiting());
  EXPECT_TRUE(capture.taps.empty());

  servers.latest().ready(50123);
  controller.reset();
  servers.latest().ready(50124);
  queue.advance(10s);
  EXPECT_EQ(capture.taps.size(), 1u);
}

using Controller_Attach = ControllerTest;

TEST_F(Controller_Attach, WaitsForTheSourceThenGoesLiveOnAWatchTick) {
  auto& c = startReady();
  EXPECT_EQ(c.state(), CaptureState::waiting());
  EXPECT_EQ(c.detail(), "Abre Spotify y dale al play.");

  addSource(7);
  queue.advance(2s);
  EXPECT_EQ(c.state(), CaptureState::live());
  EXPECT_EQ(c.detail(), "Spotify \u00B7 48 kHz \u00B7 AAC 256 kbps");
  EXPECT_EQ(capture.taps.back()->processObjects, std::vector<AudioObjectID>{7});
  EXPECT_FALSE(capture.taps.back()->global);
  EXPECT_EQ(encoders.bitRates, std::vector<std::uint32_t>{256000});
  EXPECT_EQ(log.lines().back(), "tap started: 1 process(es), 48000.000000 Hz, 2 ch");

  workspace.addApp("org.videolan.vlc", "VLC");
  c.refreshApps();
  c.setSelectedBundle("org.videolan.vlc");
  queue.advance(2s);
  EXPECT_EQ(c.state(), CaptureState::live()) << "kept until the new source plays";
  addSource(12, "org.videolan.vlc");
  queue.advance(2s);
  EXPECT_EQ(capture.taps.back()->processObjects, std::vector<AudioObjectID>{12});
  EXPECT_EQ(c.detail(), "VLC \u00B7 48 kHz \u00B7 AAC 256 kbps");
}

TEST_F(Controller_Attach, OnlyANewProcessSetReplacesTheTapAndOnlyANewRateTheEncoder) {
  addSource(7);
  addSource(8);
  auto& c = startReady();
  capture.processes = {{8, Controller::kDefaultSource}, {7, Controller::kDefaultSource}, {7, "com.spotify.client2"}};
  changes.clear();
  queue.advance(2s);
  EXPECT_EQ(capture.taps.size(), 1u);
  EXPECT_EQ(changesOf(Field::state), 0);

  capture.processes.clear();  // a source that quits stays live on its silent tap
  queue.advance(2s);
  EXPECT_EQ(capture.taps.size(), 1u);
  EXPECT_EQ(c.state(), CaptureState::live());

  addSource(7);
  addSource(8);
  addSource(9);
  queue.advance(2s);
  EXPECT_EQ(capture.taps.size(), 2u);
  EXPECT_EQ(capture.taps[0]->stops, 1);
  EXPECT_EQ(encoders.made.size(), 1u);
  EXPECT_EQ(player.items.size(), 1u) << "same rate: no reload";

  capture.sampleRate = 44100;
  capture.processes.pop_back();
  queue.advance(2s);
  EXPECT_EQ(encoders.made.size(), 2u);
  EXPECT_EQ(encoders.latest()->sampleRate(), 44100);
  EXPECT_EQ(player.items.size(), 2u);
  EXPECT_EQ(c.detail(), "Spotify \u00B7 44 kHz \u00B7 AAC 256 kbps");
}

TEST_F(Controller_Attach, AFailedStartShowsTheMessageAndRetriesOnTheNextTick) {
  addSource(7);
  capture.failures = {TapError("No se pudo crear el tap", -50)};
  encoders.failures = {TapError("No se pudo crear el codificador")};
  auto& c = startReady();
  EXPECT_EQ(c.state(), CaptureState::error("No se pudo crear el tap (OSStatus -50)"));
  EXPECT_EQ(c.detail(), "No se pudo crear el tap (OSStatus -50)");
  EXPECT_EQ(capture.taps.back()->stops, 1);

  queue.advance(2s);
  EXPECT_EQ(c.detail(), "No se pudo crear el codificador");
  EXPECT_EQ(capture.liveTaps(), 0);

  queue.advance(2s);
  EXPECT_EQ(c.state(), CaptureState::live());
  EXPECT_EQ(capture.liveTaps(), 1);
}

TEST_F(Controller_Attach, WithoutASoundServerShowsWhyDropsTheTapAndRecoversOnALaterTick) {
  const std::string message = "Brontide necesita PipeWire para captar el audio de una app.";
  addSource(7);
  capture.unavailability = TapError(message);
  auto& c = startReady();
  EXPECT_EQ(c.state(), CaptureState::error(message));
  EXPECT_EQ(c.detail(), message);
  EXPECT_TRUE(capture.taps.empty());
  EXPECT_EQ(capture.queries, 0) << "a dead server's stale lookup must not count";

  capture.unavailability.reset();
  queue.advance(2s);
  ASSERT_EQ(c.state(), CaptureState::live());
  const auto encoder = encoders.latest();

  capture.unavailability = TapError(message);  // the server goes away while live
  queue.advance(2s);
  EXPECT_EQ(c.state(), CaptureState::error(message));
  EXPECT_EQ(capture.liveTaps(), 0);
  EXPECT_EQ(player.currentItem(), 0u) << "nothing can play on a vanished server";
  std::optional<std::string> failure;
  c.testCapture([&](std::optional<std::string> f) { failure = f; });
  EXPECT_EQ(failure, message);
  EXPECT_EQ(capture.taps.size(), 1u);

  capture.unavailability.reset();  // back with the same process set: a fresh tap, the same encoder, a new item
  queue.advance(2s);
  EXPECT_EQ(c.state(), CaptureState::live());
  EXPECT_EQ(capture.liveTaps(), 1);
  EXPECT_EQ(encoders.latest(), encoder);
  EXPECT_EQ(player.items.size(), 2u);
  EXPECT_EQ(player.currentItem(), player.items.back().id);
}

TEST_F(Controller_Attach, TheSinkFeedsEncoderAndMeterAndFramesReachOnlyTheirServer) {
  addSource(7);
  auto& c = startReady();
  auto encoder = encoders.latest();
  ASSERT_TRUE(deliver(blockWithPeak(0.5f)));
  EXPECT_EQ(encoder->appended, 1);
  EXPECT_EQ(encoder->samplesAppended, 512u);
  ticks(1);
  EXPECT_FLOAT_EQ(c.level(), 0.5f);

  const std::uint8_t frame[] = {0xFF, 0xF1, 0x50};
  encoder->emitFrame(frame);
  auto server = servers.latest().server.lock();
  EXPECT_EQ(server->bytes(), std::vector<std::uint8_t>(std::begin(frame), std::end(frame)));
  server.reset();
  c.stop();
  encoder->emitFrame(frame);  // the encoder may outlive its server briefly
}

TEST_F(Controller_Attach, AnAppWhoseSoundCannotBeDivertedIsNamedUntilItIs) {
  addSource(7);
  auto& c = startReady();
  capture.taps.back()->unmovable = {"Firefox"};
  queue.advance(2s);
  EXPECT_EQ(c.detail(), "Firefox no permite desviar su audio.");
  EXPECT_EQ(c.state(), CaptureState::live());
  queue.advance(2s);
  EXPECT_EQ(changesOf(Field::detail), 3) << "Arrancando, live, warning: not repeated every tick";
  capture.taps.back()->unmovable.clear();
  queue.advance(2s);
  EXPECT_EQ(c.detail(), "Spotify \u00B7 48 kHz \u00B7 AAC 256 kbps");
}

}  // namespace
}  // namespace brontide
