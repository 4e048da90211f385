#include "audio_tap/TapIOProc.h"

#include <gtest/gtest.h>

#include <vector>

namespace brontide {
namespace {

AudioStreamBasicDescription formatOf(std::uint32_t channels, bool nonInterleaved) {
  AudioStreamBasicDescription format{48000, kAudioFormatLinearPCM, kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked,
                                     4 * channels, 1, 4 * channels, channels, 32, 0};
  if (nonInterleaved) format.mFormatFlags |= kAudioFormatFlagIsNonInterleaved;
  return format;
}

AudioBuffer bufferOf(const std::vector<float>& samples, std::uint32_t channels) {
  return AudioBuffer{channels, std::uint32_t(samples.size() * sizeof(float)), samples.data()};
}

struct Delivery {
  std::vector<std::vector<float>> blocks;
  std::vector<const float*> pointers;
  TapSink sink() {
    return [this](SampleBlock block) {
      blocks.emplace_back(block.data, block.data + block.count);
      pointers.push_back(block.data);
    };
  }
};

TEST(TapIOProc, TapIOProc_DeliversInterleavedStereo) {
  struct Layout {
    const char* name;
    std::uint32_t channels;
    bool nonInterleaved;
    std::vector<std::vector<float>> buffers;
    std::vector<float> expected;
  };
  for (const auto& c : {
           Layout{"NonInterleavedStereo", 2, true, {{1, 2, 3}, {-1, -2, -3}}, {1, -1, 2, -2, 3, -3}},
           Layout{"NonInterleavedOneBuffer", 2, true, {{1, 2}}, {1, 1, 2, 2}},
           Layout{"InterleavedMono", 1, false, {{0.5f, 0.25f}}, {0.5f, 0.5f, 0.25f, 0.25f}},
           Layout{"InterleavedFourChannels", 4, false, {{1, 2, 3, 4, 5, 6, 7, 8}}, {1, 2, 5, 6}},
           Layout{"InterleavedThreeChannelsPartialFrame", 3, false, {{1, 2, 3, 4, 5, 6, 7}}, {1, 2, 4, 5}},
           Layout{"NonInterleavedShortRightBuffer", 2, true, {{1, 2, 3}, {-1}}, {1, -1, 2, 2, 3, 3}},
           Layout{"ZeroChannelsTreatedAsMono", 0, false, {{7, 8}}, {7, 7, 8, 8}}}) {
    SCOPED_TRACE(c.name);
    Delivery delivery;
    TapIOProc proc(formatOf(c.channels, c.nonInterleaved), delivery.sink());
    std::vector<AudioBuffer> list;
    for (const auto& b : c.buffers) list.push_back(bufferOf(b, c.nonInterleaved ? 1 : c.channels));
    proc(list);
    ASSERT_EQ(delivery.blocks.size(), 1u);
    EXPECT_EQ(delivery.blocks[0], c.expected);
  }
}

TEST(TapIOProc, TapIOProc_SkipsMissingDataAndCopiesAllButInterleavedStereo) {
  std::vector<float> samples{1, 2, 3, 4, 5, 6};
  for (bool stereo : {true, false}) {
    SCOPED_TRACE(stereo ? "stereo" : "mono");
    Delivery delivery;
    TapIOProc proc(formatOf(stereo ? 2 : 1, false), delivery.sink());
    proc(AudioBufferList{});
    AudioBuffer noData{2, 64, nullptr};
    proc(AudioBufferList(&noData, 1));
    EXPECT_TRUE(delivery.blocks.empty());

    float sample = 0;
    AudioBuffer empty{2, 0, &sample};
    proc(AudioBufferList(&empty, 1));
    AudioBuffer buffer = bufferOf(samples, stereo ? 2 : 1);
    proc(AudioBufferList(&buffer, 1));
    ASSERT_EQ(delivery.blocks.size(), 2u);
    EXPECT_TRUE(delivery.blocks[0].empty());
    EXPECT_EQ(delivery.blocks[1].size(), stereo ? 6u : 12u);
    EXPECT_EQ(delivery.pointers[1] == samples.data(), stereo);
  }
}

TEST(TapIOProc, TapIOProc_GrowsScratchOnlyForLargerCycles) {
  Delivery delivery;
  TapIOProc proc(formatOf(1, false), delivery.sink());
  EXPECT_EQ(proc.scratchSize(), TapIOProc::kScratchFloats);

  std::vector<float> small(8192, 0.5f);
  AudioBuffer smallBuffer = bufferOf(small, 1);
  proc(AudioBufferList(&smallBuffer, 1));
  EXPECT_EQ(proc.scratchSize(), TapIOProc::kScratchFloats);
  const float* scratch = delivery.pointers.back();

  std::vector<float> large(10000, 0.25f);
  AudioBuffer largeBuffer = bufferOf(large, 1);
  proc(AudioBufferList(&largeBuffer, 1));
  EXPECT_EQ(proc.scratchSize(), 20000u);
  EXPECT_EQ(delivery.blocks.back().size(), 20000u);
  EXPECT_EQ(delivery.blocks.back().back(), 0.25f);

  proc(AudioBufferList(&smallBuffer, 1));
  EXPECT_EQ(proc.scratchSize(), 20000u);
  EXPECT_NE(delivery.pointers.back(), scratch);
  EXPECT_EQ(delivery.pointers.back(), delivery.pointers[1]);
}

}  // namespace
}  // namespace brontide
