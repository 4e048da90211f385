#include "controller/LevelMeter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

namespace brontide {
namespace {

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

}  // namespace
}  // namespace brontide
