#include "audio_tap/ProcessTap.h"

#include <gtest/gtest.h>

#include <regex>

#include "audio_tap/FakeAudioSystem.h"

namespace brontide {
namespace {

using fakes::FakeAudioSystem;
using Step = FakeAudioSystem::Step;

MakeSink recordingSink(int& calls, std::vector<std::vector<float>>& blocks) {
  return [&](const AudioStreamBasicDescription&) -> std::expected<TapSink, TapError> {
    ++calls;
    return TapSink([&](SampleBlock block) { blocks.emplace_back(block.data, block.data + block.count); });
  };
}

class ProcessTapTest : public ::testing::Test {
 protected:
  FakeAudioSystem system;
  int sinkCalls = 0;
  std::vector<std::vector<float>> blocks;
};

TEST_F(ProcessTapTest, ProcessTap_StartDeliversBlocksAndStopTearsDownInOrder) {
  ProcessTap tap(system, {7, 9}, false);
  ASSERT_TRUE(tap.start(recordingSink(sinkCalls, blocks)).has_value());
  EXPECT_EQ(tap.format(), system.format);
  EXPECT_EQ(sinkCalls, 1);

  std::vector<float> samples{0.1f, 0.2f, 0.3f, 0.4f};
  AudioBuffer buffer{2, 16, samples.data()};
  system.cycle(AudioBufferList(&buffer, 1));
  ASSERT_EQ(blocks.size(), 1u);
  EXPECT_EQ(blocks[0], samples);

  system.calls.clear();
  tap.stop();
  EXPECT_EQ(system.calls, (std::vector<std::string>{"stopDevice", "destroyIOProc", "destroyAggregateDevice",
                                                     "destroyProcessTap"}));
  EXPECT_TRUE(system.empty());
  EXPECT_EQ(tap.format(), system.format);  // the format outlives the stop

  system.calls.clear();
  tap.stop();
  EXPECT_TRUE(system.calls.empty());
}

TEST_F(ProcessTapTest, ProcessTap_DescribesMutedProcessTapOrUnmutedGlobalTapAndStopsWhenDestroyed) {
  {
    ProcessTap processes(system, {7, 9}, false);
    ProcessTap global(system, {7}, true);
    ASSERT_TRUE(processes.start(recordingSink(sinkCalls, blocks)).has_value());
    ASSERT_TRUE(global.start(recordingSink(sinkCalls, blocks)).has_value());
  }
  EXPECT_TRUE(system.empty());
  ASSERT_EQ(system.tapDescriptions.size(), 2u);

  const auto& muted = system.tapDescriptions[0];
  EXPECT_FALSE(muted.global);
  EXPECT_EQ(muted.processes, (std::vector<AudioObjectID>{7, 9}));
  EXPECT_EQ(muted.muteBehavior, TapMuteBehavior::mutedWhenTapped);
  const auto& unmuted = system.tapDescriptions[1];
  EXPECT_TRUE(unmuted.global);
  EXPECT_TRUE(unmuted.processes.empty());
  EXPECT_EQ(unmuted.muteBehavior, TapMuteBehavior::unmuted);

  const std::regex uuid("[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}");
  for (std::size_t i = 0; i < 2; ++i) {
    const auto& tapDescription = system.tapDescriptions[i];
    const auto& aggregate = system.aggregateDescriptions[i];
    EXPECT_EQ(tapDescription.name, "Brontide");
    EXPECT_TRUE(tapDescription.isPrivate);
    EXPECT_TRUE(std::regex_match(tapDescription.uuid, uuid));
    EXPECT_TRUE(std::regex_match(aggregate.uid, uuid));
    EXPECT_EQ(aggregate.name, "Brontide-Tap");
    EXPECT_EQ(aggregate.mainSubDevice, "headless_out");
    EXPECT_EQ(aggregate.subDevices, std::vector<std::string>{"headless_out"});
    EXPECT_TRUE(aggregate.isPrivate);
    EXPECT_FALSE(aggregate.isStacked);
    EXPECT_TRUE(aggregate.tapAutoStart);
    ASSERT_EQ(aggregate.taps.size(), 1u);
    EXPECT_EQ(aggregate.taps[0].uid, tapDescription.uuid);
    EXPECT_TRUE(aggregate.taps[0].driftCompensation);
  }
  EXPECT_NE(system.aggregateDescriptions[0].uid, system.aggregateDescriptions[1].uid);
  EXPECT_NE(system.tapDescriptions[0].uuid, system.tapDescriptions[1].uuid);
}

TEST_F(ProcessTapTest, ProcessTap_PassesTheSinkErrorUnchangedElseMakesTheSinkBeforeLookingUpTheOutput) {
  const TapError error("Frecuencia de muestreo no soportada: 12345");
  ProcessTap refused(system, {7}, false);
  auto result = refused.start([&](const AudioStreamBasicDescription&) -> std::expected<TapSink, TapError> {
    return std::unexpected(error);
  });
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(result.error(), error);
  EXPECT_EQ(system.calls.back(), "tapFormat");
  EXPECT_NE(refused.tapID(), 0u);
  refused.stop();
  EXPECT_TRUE(system.empty());

  system.calls.clear();
  ProcessTap tap(system, {7}, false);
  ASSERT_TRUE(tap.start([&](const AudioStreamBasicDescription& format) -> std::expected<TapSink, TapError> {
                   system.calls.push_back("makeSink");
                   EXPECT_EQ(format, system.format);
                   return TapSink([](SampleBlock) {});
                 }).has_value());
  EXPECT_EQ(system.calls, (std::vector<std::string>{"createProcessTap", "tapFormat", "makeSink", "defaultOutputDevice",
                                                     "deviceUID", "createAggregateDevice", "createIOProc",
                                                     "startDevice"}));
}

TEST_F(ProcessTapTest, ProcessTap_FailingStepKeepsWhatWasMadeUntilStop) {
  struct Failure {
    Step step;
    const char* message;
    bool tap, aggregate, proc;
  };
  for (const auto& c : {
           Failure{Step::createTap,
                   "No se pudo crear el tap de audio. ¿Has dado permiso de captura de audio? (OSStatus -5)", false,
                   false, false},
           Failure{Step::tapFormat, "No se pudo leer el formato del tap", true, false, false},
           Failure{Step::outputDevice, "No se encontró la salida de audio del sistema", true, false, false},
           Failure{Step::deviceUID, "No se encontró la salida de audio del sistema", true, false, false},
           Failure{Step::createAggregate, "No se pudo crear el dispositivo agregado (OSStatus -5)", true, false, false},
           Failure{Step::createIOProc, "No se pudo crear el IOProc (OSStatus -5)", true, true, false},
           Failure{Step::startDevice, "No se pudo iniciar la captura (OSStatus -5)", true, true, true}}) {
    SCOPED_TRACE(c.message);
    system = FakeAudioSystem();
    system.failAt = c.step;
    {
      ProcessTap tap(system, {7}, false);
      auto result = tap.start(recordingSink(sinkCalls, blocks));
      ASSERT_FALSE(result.has_value());
      EXPECT_EQ(result.error().errorDescription(), c.message);
      EXPECT_EQ(tap.tapID() != 0, c.tap);
      EXPECT_EQ(tap.aggregateID() != 0, c.aggregate);
      EXPECT_EQ(tap.procID().has_value(), c.proc);
      EXPECT_EQ(system.taps.size(), c.tap ? 1u : 0u);
      EXPECT_EQ(system.aggregates.size(), c.aggregate ? 1u : 0u);
      EXPECT_EQ(system.procs.size(), c.proc ? 1u : 0u);
      tap.stop();
      EXPECT_TRUE(system.empty());
      tap.stop();
    }
    EXPECT_TRUE(system.empty());
  }
}

TEST(TapError, TapError_AppendsOnlyNonZeroStatus) {
  EXPECT_EQ(TapError("No se pudo iniciar la captura", 0).errorDescription(), "No se pudo iniciar la captura");
  EXPECT_EQ(TapError("No se pudo iniciar la captura", -2147483647 - 1).errorDescription(),
            "No se pudo iniciar la captura (OSStatus -2147483648)");
  EXPECT_EQ(TapError("x", 560947818).errorDescription(), "x (OSStatus 560947818)");
}

}  // namespace
}  // namespace brontide
