#include "controller/Controller.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <functional>
#include <limits>
#include <thread>

#include "base/DeferredPreferences.h"
#include "base/VolumeLaws.h"
#include "fakes/ControllerFakes.h"

namespace brontide {
namespace {

using namespace std::chrono_literals;
using Event = Player::ItemEvent;
using Field = Controller::Field;
using Status = LoginItems::Status;

TEST(Preferences_Parse, NumbersMustBeWholeAndFiniteAndFormattedOnesReadBackExactly) {
  for (const auto& [text, value] : std::vector<std::pair<const char*, std::optional<double>>>{
           {"0.5", 0.5}, {"1", 1.0}, {"-0.25", -0.25}, {"1e-3", 0.001}, {"abc", {}}, {"nan", {}}, {"NaN", {}},
           {"inf", {}}, {"-inf", {}}, {"1e400", {}}, {" 0.5", {}}, {"0.5 ", {}}, {"0,5", {}}, {"1x", {}}, {"", {}}}) {
    EXPECT_EQ(parseNumber(text), value) << text;
  }
  for (const double value : {0.0, 0.3, 1.0, 0.1 + 0.2, 1.0 / 3, 5e-324, std::numeric_limits<double>::max()}) {
    EXPECT_EQ(parseNumber(formatNumber(value)), value) << formatNumber(value);
  }
  EXPECT_EQ(formatNumber(0.3), "0.3");
}

TEST(Preferences_Parse, FlagsAreTrueOrFalseInAnyCase) {
  EXPECT_EQ(parseFlag("true"), true);
  EXPECT_EQ(parseFlag("FALSE"), false);
  EXPECT_EQ(parseFlag("True"), true);
  for (const char* text : {"", "1", "yes", "true ", "verdadero"}) EXPECT_EQ(parseFlag(text), std::nullopt) << text;
}

void feed(LevelMeter& meter, const std::vector<float>& samples) { meter.feed(SampleBlock{samples.data(), samples.size()}); }

TEST(LevelMeter_Feed, ReadsEveryEighthSampleAndKeepsTheMaximumUntilTaken) {
  LevelMeter meter;
  std::vector<float> samples(64, 0.0f);
  for (std::size_t i = 0; i < samples.size(); ++i) {
    if (i % 8 != 0) samples[i] = 0.9f;
  }
  feed(meter, samples);
  EXPECT_EQ(meter.takePeak(), 0.0f);

  samples[0] = -0.5f;
  feed(meter, samples);
  samples[0] = 0.0f;
  samples[16] = 0.25f;
  feed(meter, samples);
  EXPECT_EQ(meter.takePeak(), 0.5f);
  EXPECT_EQ(meter.takePeak(), 0.0f);
  feed(meter, {});
  EXPECT_EQ(meter.takePeak(), 0.0f);
}

TEST(LevelMeter_Threads, EveryPeakReachesExactlyOneTake) {
  LevelMeter meter;
  constexpr int kBlocks = 20000;
  std::atomic<bool> done{false};
  std::thread io([&] {
    std::vector<float> samples(256, 0.0f);
    for (int i = 1; i <= kBlocks; ++i) {
      samples[8] = static_cast<float>(i) / kBlocks;
      feed(meter, samples);
    }
    done = true;
  });
  std::vector<float> taken;
  while (!done) {
    if (const float peak = meter.takePeak(); peak > 0) taken.push_back(peak);
  }
  io.join();
  if (const float peak = meter.takePeak(); peak > 0) taken.push_back(peak);
  ASSERT_FALSE(taken.empty());
  EXPECT_EQ(taken.back(), 1.0f);
  EXPECT_TRUE(std::ranges::is_sorted(taken) && std::ranges::adjacent_find(taken) == taken.end())
      << "a peak was reported twice or went back";
}

// A controller on fakes and a virtual clock; the fakes are a base so they outlive it.
class ControllerTest : public ::testing::Test, protected fakes::ControllerFakes {
 protected:
  Controller& make(bool allowAutoStart = true) {
    controller.reset();
    controller = makeController(allowAutoStart);
    controller->changed.connect([this](Field field) { changes.push_back(field); });
    return *controller;
  }
  // Started with the server ready on `port`, which runs the first attach.
  Controller& startReady(std::uint16_t port = 50123) {
    if (!controller) make();
    controller->start();
    servers.latest().ready(port);
    return *controller;
  }
  void addSource(AudioObjectID id, std::string bundleID = Controller::kDefaultSource) {
    capture.processes.push_back({id, std::move(bundleID)});
  }
  // Interleaved stereo silence with `peak` at sample 0, to the newest tap's sink.
  bool deliver(float peak) {
    std::vector<float> samples(512, 0.0f);
    samples[0] = peak;
    return capture.taps.back()->deliver(SampleBlock{samples.data(), samples.size()});
  }
  void ticks(int count) { queue.advance(50ms * count); }
  [[nodiscard]] int changesOf(Field field) const { return static_cast<int>(std::ranges::count(changes, field)); }

  std::vector<Field> changes;
  std::shared_ptr<Controller> controller;
};

TEST_F(ControllerTest, Lifecycle_StartWaitsForItsOwnServerWithTwoTimers) {
  addSource(7);
  auto& c = make();
  c.start();
  c.start();  // the onboarding flow may call it again
  queue.advance(4s);
  EXPECT_TRUE(c.running());
  EXPECT_EQ(c.state(), CaptureState::waiting());
  EXPECT_EQ(c.detail(), "Arrancando\u2026");
  EXPECT_EQ(queue.activeTimers(), 2);
  EXPECT_EQ(servers.made.size(), 1u);
  EXPECT_TRUE(capture.taps.empty()) << "no attach before the port is known";

  const auto first = servers.latest();
  c.stop();  // while waiting, too, the server and the timers go
  EXPECT_TRUE(first.server.expired());
  c.start();
  EXPECT_EQ(queue.activeTimers(), 2);
  first.ready(1111);  // an earlier run's server reporting late
  first.fail(Error{ErrorCode::ServerFailed, "late"});
  EXPECT_EQ(c.port(), 0);
  EXPECT_EQ(c.state(), CaptureState::waiting());
  EXPECT_TRUE(capture.taps.empty());

  servers.latest().ready(50123);
  controller.reset();
  servers.latest().ready(50124);  // to a controller that is gone
  queue.advance(10s);
  EXPECT_EQ(capture.taps.size(), 1u);
}

TEST_F(ControllerTest, Lifecycle_ServerFailuresShowTheirMessageAndOnlyACreationFailureStops) {
  addSource(7);
  const Error taken{ErrorCode::ServerFailed, "Address already in use"};
  servers.failures = {taken};
  auto& c = make();
  c.start();
  EXPECT_FALSE(c.running());
  EXPECT_EQ(c.state(), CaptureState::error(taken));
  EXPECT_EQ(c.detail(), userText(taken));
  EXPECT_EQ(queue.activeTimers(), 0);

  startReady();  // a later start works
  EXPECT_EQ(servers.made.size(), 1u);
  const Error lost{ErrorCode::ServerFailed, "Bad file descriptor"};
  servers.latest().fail(lost);  // while running: tap and timers stay
  EXPECT_EQ(c.state(), CaptureState::error(lost));
  EXPECT_EQ(c.detail(), userText(lost));
  EXPECT_TRUE(c.running());
  EXPECT_EQ(queue.activeTimers(), 2);
  EXPECT_EQ(capture.liveTaps(), 1);
}

TEST_F(ControllerTest, Lifecycle_StopReleasesEverything) {
  addSource(7);
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

TEST_F(ControllerTest, Preferences_AutoStartNeedsOnboardingAndPermissionAndBrokenValuesMeanTheDefault) {
  struct Row {
    const char* autoStart;
    const char* onboarded;
    bool allow;
    bool runs;
  };
  for (const auto& row : {Row{"true", "true", true, true}, Row{"true", "false", true, false},
                          Row{"TRUE", "True", true, true}, Row{"true", "true", false, false},
                          Row{"yes", "true", true, false}, Row{"1", "true", true, false},
                          Row{"true", "sí", true, false}}) {
    SCOPED_TRACE(std::string(row.autoStart) + "/" + row.onboarded);
    preferences = fakes::MemoryPreferences{{"autoStart", row.autoStart}, {"onboarded", row.onboarded},
                                           {"sourceBundle", ""}};
    EXPECT_EQ(make(row.allow).running(), row.runs);
    EXPECT_EQ(controller->selectedBundle(), "com.spotify.client");
    EXPECT_TRUE(preferences.writes.empty()) << "nothing is written at construction";
  }
  EXPECT_EQ(discovery.starts, 7);
  EXPECT_TRUE(player.allowsExternalPlayback);
  EXPECT_TRUE(player.waitsToMinimizeStalling);

  auto& c = make();
  c.setAutoStart(true);
  c.setOnboarded(false);
  c.setSelectedBundle("org.gnome.totem");
  EXPECT_EQ(preferences.writes, (std::vector<std::pair<std::string, std::string>>{
                                    {"autoStart", "true"}, {"onboarded", "false"}, {"sourceBundle", "org.gnome.totem"}}));
}

TEST_F(ControllerTest, Attach_WaitsForTheSourceThenGoesLiveFeedingEncoderMeterAndOnlyItsServer) {
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

  const auto encoder = encoders.latest();
  ASSERT_TRUE(deliver(0.5f));
  EXPECT_EQ(encoder->samplesAppended, 512u);
  ticks(1);
  EXPECT_FLOAT_EQ(c.level(), 0.5f);
  const std::uint8_t frame[] = {0xFF, 0xF1, 0x50};
  encoder->emitFrame(frame);
  EXPECT_EQ(servers.latest().server.lock()->bytes(), std::vector<std::uint8_t>(std::begin(frame), std::end(frame)));

  c.setSelectedBundle("org.videolan.vlc");  // not running yet: named once it plays
  queue.advance(2s);
  EXPECT_EQ(c.state(), CaptureState::live()) << "kept until the new source plays";
  workspace.addApp("org.videolan.vlc", "VLC");
  addSource(12, "org.videolan.vlc");
  queue.advance(2s);
  EXPECT_EQ(capture.taps.back()->processObjects, std::vector<AudioObjectID>{12});
  EXPECT_EQ(c.detail(), "VLC \u00B7 48 kHz \u00B7 AAC 256 kbps");

  c.stop();
  encoder->emitFrame(frame);  // the encoder may outlive its server briefly
}

TEST_F(ControllerTest, Attach_OnlyANewProcessSetReplacesTheTapAndOnlyANewRateTheEncoder) {
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

TEST_F(ControllerTest, Attach_AFailedStartShowsTheMessageAndRetriesOnTheNextTick) {
  addSource(7);
  const Error tapFailure{ErrorCode::TapNotOpened, "Connection refused"};
  const Error encoderFailure{ErrorCode::EncoderNotCreated, "Encoder not found"};
  capture.failures = {tapFailure, tapFailure};
  encoders.failures = {encoderFailure};
  auto& c = startReady();
  EXPECT_EQ(c.state(), CaptureState::error(tapFailure));
  EXPECT_EQ(c.detail(), userText(tapFailure));
  EXPECT_EQ(capture.taps.back()->stops, 1);

  queue.advance(2s);  // the same failure again: logged once
  EXPECT_EQ(std::ranges::count(log.lines(), "failed: tap-not-opened (Connection refused)"), 1);

  queue.advance(2s);
  EXPECT_EQ(c.state(), CaptureState::error(encoderFailure));
  EXPECT_EQ(log.lines().back(), "failed: encoder-not-created (Encoder not found)");
  EXPECT_EQ(capture.liveTaps(), 0);

  queue.advance(2s);
  EXPECT_EQ(c.state(), CaptureState::live());
  EXPECT_EQ(capture.liveTaps(), 1);

  // A tap whose sink the server never readied, found after start: the same message, then a new tap.
  capture.taps.back()->lateFailure = tapFailure;
  queue.advance(2s);
  EXPECT_EQ(c.state(), CaptureState::error(tapFailure));
  EXPECT_EQ(capture.liveTaps(), 0);
  queue.advance(2s);
  EXPECT_EQ(c.state(), CaptureState::live());
}

TEST_F(ControllerTest, Attach_WithoutASoundServerShowsWhyDropsTheTapAndRecoversOnALaterTick) {
  const Error noServer{ErrorCode::NoSoundServer, {}};
  addSource(7);
  capture.unavailability = noServer;
  auto& c = startReady();
  EXPECT_EQ(c.state(), CaptureState::error(noServer));
  EXPECT_EQ(c.detail(), userText(noServer));
  EXPECT_TRUE(capture.taps.empty());
  EXPECT_EQ(capture.queries, 0) << "a dead server's stale lookup must not count";

  capture.unavailability.reset();
  queue.advance(2s);
  ASSERT_EQ(c.state(), CaptureState::live());
  const auto encoder = encoders.latest();

  capture.unavailability = noServer;  // the server goes away while live
  queue.advance(2s);
  EXPECT_EQ(c.state(), CaptureState::error(noServer));
  EXPECT_EQ(capture.liveTaps(), 0);
  EXPECT_EQ(player.currentItem(), 0u) << "nothing can play on a vanished server";
  std::optional<Error> failure;
  c.testCapture([&](std::optional<Error> f) { failure = f; });
  EXPECT_EQ(failure, noServer);
  EXPECT_EQ(capture.taps.size(), 1u);

  capture.unavailability.reset();  // back with the same process set: a fresh tap, the same encoder, a new item
  queue.advance(2s);
  EXPECT_EQ(c.state(), CaptureState::live());
  EXPECT_EQ(capture.liveTaps(), 1);
  EXPECT_EQ(encoders.latest(), encoder);
  EXPECT_EQ(player.items.size(), 2u);
  EXPECT_EQ(player.currentItem(), player.items.back().id);

  capture.restart = true;  // gone and back between two ticks: the dead tap is replaced in the same tick
  queue.advance(2s);
  EXPECT_EQ(c.state(), CaptureState::live());
  EXPECT_EQ(capture.taps.size(), 3u);
  EXPECT_EQ(capture.liveTaps(), 1);
  EXPECT_EQ(player.items.size(), 3u);
}

TEST_F(ControllerTest, Attach_AnAppWhoseSoundCannotBeDivertedIsNamedUntilItIs) {
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

TEST_F(ControllerTest, Playback_PlaysTheLoopbackStreamAgainAfterAStallAndReloadsItASecondAfterItEnds) {
  addSource(7);
  startReady(50123);
  ASSERT_EQ(player.items.size(), 1u);
  EXPECT_EQ(player.items[0].address, "http://127.0.0.1:50123/live.aac");
  EXPECT_EQ(player.items[0].preferredForwardBufferSeconds, 1.0);
  EXPECT_EQ(player.currentItem(), player.items[0].id);
  EXPECT_TRUE(player.playing);
  const auto plays = player.playCalls;
  player.notifyCurrent(Event::playbackStalled);
  queue.runReady();
  EXPECT_EQ(player.playCalls, plays + 1);
  EXPECT_EQ(player.items.size(), 1u);

  for (const auto event : {Event::failedToPlayToEnd, Event::didPlayToEnd}) {
    const auto before = player.items.size();
    player.notifyCurrent(event);
    queue.advance(999ms);
    EXPECT_EQ(player.items.size(), before);
    queue.advance(1ms);
    ASSERT_EQ(player.items.size(), before + 1);
    EXPECT_EQ(player.currentItem(), player.items.back().id);
    ASSERT_EQ(player.observations.size(), 3u);
    for (const auto& [token, o] : player.observations) EXPECT_EQ(o.item, player.currentItem());
  }

  player.notifyCurrent(Event::failedToPlayToEnd);
  queue.runReady();
  controller->stop();
  EXPECT_EQ(player.currentItem(), 0u);
  EXPECT_TRUE(player.observations.empty());
  controller->start();  // the new server has no port yet: a stale reload would play port 0
  queue.advance(2s);
  EXPECT_EQ(player.items.size(), 3u);
}

TEST_F(ControllerTest, Volume_StoredValueThatIsNoNumberMeansFullVolume) {
  for (const auto& [stored, volume] : std::vector<std::pair<const char*, double>>{
           {"0.5", 0.5}, {"abc", 1}, {"nan", 1}, {"inf", 1}, {"", 1}, {"-1", 0}, {"3", 1}}) {
    SCOPED_TRACE(stored);
    preferences = fakes::MemoryPreferences{{"volume", stored}};
    EXPECT_EQ(make().volume(), volume);
    EXPECT_TRUE(preferences.writes.empty());
  }
  preferences = {};
  EXPECT_EQ(make().currentGain(), 1.0f);
  EXPECT_FALSE(controller->muted());
}

TEST_F(ControllerTest, Volume_GainReachesTheEncoderAlsoWhenSetWhileStoppedAndMuteKeepsTheVolume) {
  auto& c = make();
  c.setVolume(0.3);
  c.setVolume(std::nan(""));  // ignored: would be stored as "nan" and read back as full volume
  EXPECT_EQ(preferences.value("volume"), "0.3");
  addSource(7);
  startReady();
  auto encoder = encoders.latest();
  EXPECT_EQ(encoder->gain(), volume::commonGain(0.3));
  changes.clear();

  c.setVolume(0.5);
  EXPECT_EQ(encoder->gain(), volume::commonGain(0.5));
  EXPECT_EQ(preferences.value("volume"), "0.5");

  const auto writes = preferences.writes.size();
  c.setMuted(true);
  EXPECT_EQ(c.currentGain(), 0.0f);
  EXPECT_EQ(encoder->gain(), 0.0f);
  EXPECT_EQ(c.volume(), 0.5);
  EXPECT_EQ(preferences.writes.size(), writes);

  c.setVolume(0);
  EXPECT_TRUE(c.muted());
  EXPECT_EQ(encoder->gain(), 0.0f);

  c.setMuted(true);
  c.setVolume(0.3);
  EXPECT_FALSE(c.muted());
  EXPECT_EQ(encoder->gain(), volume::commonGain(0.3));
  EXPECT_EQ(changesOf(Field::muted), 4) << "every assignment notifies";
}

// Quit and SIGTERM stop the controller: the last volume of a drag must reach the file then, not 500 ms later.
TEST_F(ControllerTest, Volume_StopWritesWhatThePreferencesHoldBack) {
  DeferredPreferences deferred(preferences, queue);
  auto c = makeController(deferred);
  c->setVolume(0.4);
  EXPECT_EQ(preferences.flushes, 0);
  c->stop();
  EXPECT_EQ(preferences.flushes, 1);
  EXPECT_EQ(preferences.value("volume"), "0.4");
}

TEST_F(ControllerTest, Meter_LevelJumpsUpDecaysByEighteenPercentPerTickAndSettlesAtGainTimesPeak) {
  addSource(7);
  startReady();
  deliver(-1.0f);
  ticks(1);
  EXPECT_FLOAT_EQ(controller->level(), 1.0f);
  ticks(1);
  EXPECT_FLOAT_EQ(controller->level(), 0.82f);
  ticks(1);
  EXPECT_FLOAT_EQ(controller->level(), 0.6724f);
  deliver(40.0f);  // beyond full scale
  ticks(1);
  EXPECT_FLOAT_EQ(controller->level(), 1.0f);

  controller->setVolume(0.5);
  for (int i = 0; i < 30; ++i) {
    deliver(0.8f);
    ticks(1);
  }
  EXPECT_FLOAT_EQ(controller->level(), 0.2f);

  deliver(0.5f);
  queue.postDelayed(50ms, [this] { controller->stop(); });  // runs between the tick and its posted step
  ticks(1);
  EXPECT_EQ(controller->level(), 0.0f) << "a tick already posted when stop runs is dropped";
}

TEST_F(ControllerTest, Meter_SilenceIsFlaggedOnThe121stSilentTickAndClearedBySound) {
  addSource(7);
  startReady();
  controller->setMuted(true);  // muted sound is still sound
  ticks(120);
  EXPECT_FALSE(controller->captureSilent());
  ticks(1);
  EXPECT_TRUE(controller->captureSilent());
  deliver(0.01f);
  ticks(1);
  EXPECT_FALSE(controller->captureSilent());

  ticks(121);
  controller->stop();
  EXPECT_TRUE(controller->captureSilent()) << "kept until the next run's first tick";
  controller->start();
  ticks(1);
  EXPECT_FALSE(controller->captureSilent());
  ticks(200);  // waiting: never silent
  EXPECT_FALSE(controller->captureSilent());
}

TEST_F(ControllerTest, Meter_LogsTheLargestRawPeakEvery100LiveTicks) {
  addSource(7);
  startReady();
  controller->setVolume(0.5);
  const auto before = log.lines().size();
  for (int i = 1; i <= 100; ++i) {
    if (i == 10) deliver(0.6f);
    if (i == 50) deliver(0.3f);
    ticks(1);
    if (i == 99) {
      EXPECT_EQ(log.lines().size(), before);
    }
  }
  ASSERT_EQ(log.lines().size(), before + 1);
  EXPECT_EQ(log.lines().back(), "level peak=0.600000 gain=0.250000");
  ticks(100);
  EXPECT_EQ(log.lines().back(), "level peak=0.000000 gain=0.250000");
}

TEST_F(ControllerTest, Meter_SamplesFromTheCaptureThreadMeetGainChangesOnTheMainThread) {
  addSource(7);
  startReady();
  std::atomic<bool> done{false};
  std::thread io([&] {
    for (int i = 0; i < 2000; ++i) deliver(0.5f);
    done = true;
  });
  for (int i = 0; !done; ++i) {
    controller->setVolume((i % 10) / 10.0);
    ticks(1);
  }
  io.join();
  EXPECT_EQ(encoders.latest()->appended, 2000);
}

TEST_F(ControllerTest, TestCapture_HoldsTheSourceOrEverythingForAWhileAndLeavesTheLiveTapAlone) {
  for (const bool sourcePlays : {false, true}) {
    SCOPED_TRACE(sourcePlays);
    capture.processes.clear();
    if (sourcePlays) addSource(7);
    std::vector<std::optional<Error>> results;
    make().testCapture([&](std::optional<Error> failure) { results.push_back(failure); });
    EXPECT_EQ(capture.taps.back()->global, !sourcePlays);
    queue.advance(599ms);
    EXPECT_TRUE(results.empty());
    queue.advance(1ms);
    EXPECT_EQ(results, std::vector<std::optional<Error>>{std::nullopt});
    EXPECT_EQ(capture.taps.back()->stops, 1);
  }

  auto& c = startReady();
  const auto live = capture.taps.back();
  const Error refused{ErrorCode::CaptureNotCreated, "Permission denied"};
  capture.failures = {refused};
  std::optional<Error> failure;
  c.testCapture([&](std::optional<Error> f) { failure = f; });
  EXPECT_EQ(failure, refused);
  EXPECT_EQ(capture.taps.back()->stops, 1);
  c.testCapture([](std::optional<Error>) {});
  queue.advance(1s);
  EXPECT_EQ(live->stops, 0);
  EXPECT_EQ(c.state(), CaptureState::live());
}

std::vector<std::string> names(const std::vector<AppChoice>& apps) {
  std::vector<std::string> out;
  for (const auto& app : apps) out.push_back(app.bundleID + "=" + app.name);
  return out;
}

TEST_F(ControllerTest, Apps_OrdinaryOnesOnceSortedWithTheStoredChoiceFirstAndTheirIcons) {
  workspace.addApp("org.gnome.totem", "Vídeos");
  workspace.running.push_back({std::nullopt, "Sin id", true});
  workspace.addApp("brontide", "Brontide");
  workspace.addApp("org.freedesktop.portal", "Portal", false);
  workspace.addApp("beta.app", "Beta");
  workspace.addApp("alpha.app", "alpha");
  workspace.addApp("beta.app", "Beta (2)");
  workspace.addApp("noname.app");
  workspace.addApp("other.alpha", "Alpha");
  workspace.addApp("org.gnome.eog", "Visor de imágenes");
  const std::vector<std::string> sorted = {"alpha.app=alpha", "other.alpha=Alpha", "beta.app=Beta",
                                           "noname.app=noname.app", "org.gnome.totem=Vídeos",
                                           "org.gnome.eog=Visor de imágenes"};

  auto& c = make();
  auto expected = sorted;
  expected.insert(expected.begin(), "com.spotify.client=Spotify");
  EXPECT_EQ(names(c.apps()), expected);

  c.setSelectedBundle("org.videolan.vlc");
  c.refreshApps();
  expected[0] = "org.videolan.vlc=org.videolan.vlc";
  EXPECT_EQ(names(c.apps()), expected);
  EXPECT_EQ(c.sourceName(), "org.videolan.vlc");

  c.setSelectedBundle("beta.app");
  c.refreshApps();
  EXPECT_EQ(names(c.apps()), sorted);
  EXPECT_EQ(c.sourceName(), "Beta");

  workspace.own.reset();  // unreadable own identity: nothing is left out for it
  c.refreshApps();
  EXPECT_EQ(names(c.apps())[3], "brontide=Brontide");

  workspace.locations = {{"org.gnome.totem", "/usr/share/applications/org.gnome.Totem.desktop"},
                         {"broken", "/usr/share/applications/broken.desktop"}};
  workspace.icons = {{"/usr/share/applications/org.gnome.Totem.desktop", "/usr/share/icons/totem.svg"}};
  EXPECT_EQ((AppChoice{"org.gnome.totem", "Vídeos"}.icon(workspace)), (AppIcon{"/usr/share/icons/totem.svg", ""}));
  EXPECT_EQ((AppChoice{"missing", "x"}.icon(workspace)), (AppIcon{"", "app.dashed"}));
  EXPECT_EQ((AppChoice{"broken", "x"}.icon(workspace)), (AppIcon{"", "app.dashed"}));
}

TEST_F(ControllerTest, LaunchAtLogin_FollowsTheStatusReadAfterEveryChange) {
  struct Row {
    bool on;
    Status after;
    std::optional<std::string> failure;
    bool expected;
    std::string detail;
  };
  loginItems.current = Status::enabled;
  EXPECT_TRUE(make().launchAtLogin());
  for (const auto& row : {Row{true, Status::enabled, std::nullopt, true, ""},
                          Row{true, Status::requiresApproval, std::nullopt, false, ""},
                          Row{false, Status::notRegistered, std::nullopt, false, ""},
                          Row{false, Status::enabled, "permiso denegado", true,
                              "No se pudo cambiar el inicio de sesión: permiso denegado"}}) {
    SCOPED_TRACE(row.detail);
    auto& c = make();
    loginItems.current = row.on ? Status::notRegistered : Status::enabled;
    loginItems.statusAfterRegister = row.after;
    loginItems.failure = row.failure;
    c.setLaunchAtLogin(row.on);
    EXPECT_EQ(c.launchAtLogin(), row.expected);
    EXPECT_EQ(c.detail(), row.detail);
    EXPECT_EQ(c.state(), CaptureState::stopped());
  }

  // A failure stays over the line each watch tick writes until the user acts.
  const std::string failure = "No se pudo cambiar el inicio de sesión: permiso denegado";
  const std::string waiting = "Abre Spotify y dale al play.";
  loginItems.failure = "permiso denegado";
  auto& c = startReady();
  for (const auto& act : std::vector<std::function<void()>>{[&] { c.dismissNotice(); }, [&] { c.setAutoStart(true); },
                                                           [&] { c.stop(); }}) {
    c.setLaunchAtLogin(true);
    queue.advance(4s);
    EXPECT_EQ(c.detail(), failure);
    act();
    EXPECT_EQ(c.detail(), c.running() ? waiting : "");
  }
}

}  // namespace
}  // namespace brontide
