#include <atomic>
#include <thread>

#include "controller/ControllerFixture.h"

namespace brontide {
namespace {

class Controller_Meter : public ControllerTest {
 protected:
  void SetUp() override {
    addSource(7);
    startReady();
  }
};

TEST_F(Controller_Meter, LevelJumpsUpDecaysByEighteenPercentPerTickAndSettlesAtGainTimesPeak) {
  deliver(blockWithPeak(-1.0f));
  ticks(1);
  EXPECT_FLOAT_EQ(controller->level(), 1.0f);
  ticks(1);
  EXPECT_FLOAT_EQ(controller->level(), 0.82f);
  ticks(1);
  EXPECT_FLOAT_EQ(controller->level(), 0.6724f);
  deliver(blockWithPeak(40.0f));  // beyond full scale
  ticks(1);
  EXPECT_FLOAT_EQ(controller->level(), 1.0f);

  controller->setVolume(0.5);
  for (int i = 0; i < 30; ++i) {
    deliver(blockWithPeak(0.8f));
    ticks(1);
  }
  EXPECT_FLOAT_EQ(controller->level(), 0.2f);
}

TEST_F(Controller_Meter, SilenceIsFlaggedOnThe121stSilentTickAndClearedBySound) {
  controller->setMuted(true);  // muted sound is still sound
  ticks(120);
  EXPECT_FALSE(controller->captureSilent());
  ticks(1);
  EXPECT_TRUE(controller->captureSilent());
  deliver(blockWithPeak(0.01f));
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

TEST_F(Controller_Meter, LogsTheLargestRawPeakEvery100LiveTicks) {
  controller->setVolume(0.5);
  const auto before = log.lines().size();
  for (int i = 1; i <= 100; ++i) {
    if (i == 10) deliver(blockWithPeak(0.6f));
    if (i == 50) deliver(blockWithPeak(0.3f));
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

TEST_F(Controller_Meter, ATickAlreadyPostedWhenStopRunsIsDropped) {
  deliver(blockWithPeak(0.5f));
  queue.postDelayed(50ms, [this] { controller->stop(); });  // runs between the tick and its posted step
  ticks(1);
  EXPECT_EQ(controller->level(), 0.0f);
}

TEST_F(Controller_Meter, SamplesFromTheCaptureThreadMeetGainChangesOnTheMainThread) {
  std::atomic<bool> done{false};
  std::thread io([&] {
    const auto samples = blockWithPeak(0.5f);
    for (int i = 0; i < 2000; ++i) deliver(samples);
    done = true;
  });
  for (int i = 0; !done; ++i) {
    controller->setVolume((i % 10) / 10.0);
    ticks(1);
  }
  io.join();
  EXPECT_EQ(encoders.latest()->appended, 2000);
}

using Controller_TestCapture = ControllerTest;

TEST_F(Controller_TestCapture, CapturesTheSourceOrEverythingForAWhileAndReportsSuccess) {
  for (const bool sourcePlays : {false, true}) {
    SCOPED_TRACE(sourcePlays);
    capture.processes.clear();
    if (sourcePlays) addSource(7);
    std::vector<std::optional<std::string>> results;
    make().testCapture([&](std::optional<std::string> failure) { results.push_back(failure); });
    EXPECT_EQ(capture.taps.back()->global, !sourcePlays);
    queue.advance(599ms);
    EXPECT_TRUE(results.empty());
    queue.advance(1ms);
    EXPECT_EQ(results, std::vector<std::optional<std::string>>{std::nullopt});
    EXPECT_EQ(capture.taps.back()->stops, 1);
  }
}

TEST_F(Controller_TestCapture, FailureReturnsTheMessageAndLeavesTheLiveTapAlone) {
  addSource(7);
  auto& c = startReady();
  capture.failures = {TapError("Permiso denegado", 1852797029)};
  std::optional<std::string> failure;
  c.testCapture([&](std::optional<std::string> f) { failure = f; });
  EXPECT_EQ(failure, "Permiso denegado (OSStatus 1852797029)");
  EXPECT_EQ(capture.taps.back()->stops, 1);

  c.testCapture([](std::optional<std::string>) {});
  queue.advance(1s);
  EXPECT_EQ(capture.taps.front()->stops, 0);
  EXPECT_EQ(c.state(), CaptureState::live());
}

}  // namespace
}  // namespace brontide
