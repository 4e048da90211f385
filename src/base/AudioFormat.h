#pragma once

#include <cstddef>
#include <cstdint>

namespace brontide {

// A stream format record; the capture reports one, the encoder builds two.
struct AudioStreamBasicDescription {
  double mSampleRate = 0;
  std::uint32_t mFormatID = 0;
  std::uint32_t mFormatFlags = 0;
  std::uint32_t mBytesPerPacket = 0;
  std::uint32_t mFramesPerPacket = 0;
  std::uint32_t mBytesPerFrame = 0;
  std::uint32_t mChannelsPerFrame = 0;
  std::uint32_t mBitsPerChannel = 0;
  std::uint32_t mReserved = 0;

  friend bool operator==(const AudioStreamBasicDescription&, const AudioStreamBasicDescription&) = default;
};

constexpr std::uint32_t fourCharCode(const char (&code)[5]) {
  return (std::uint32_t(std::uint8_t(code[0])) << 24) | (std::uint32_t(std::uint8_t(code[1])) << 16) |
         (std::uint32_t(std::uint8_t(code[2])) << 8) | std::uint32_t(std::uint8_t(code[3]));
}

constexpr std::uint32_t kAudioFormatLinearPCM = fourCharCode("lpcm");
constexpr std::uint32_t kAudioFormatMPEG4AAC = fourCharCode("aac ");
constexpr std::uint32_t kAudioFormatFlagIsFloat = 0x1;
constexpr std::uint32_t kAudioFormatFlagIsPacked = 0x8;
constexpr std::uint32_t kAudioFormatFlagIsNonInterleaved = 0x20;
constexpr std::uint32_t kMPEG4Object_AAC_LC = 2;

// A read-only view of interleaved stereo float samples, valid only during the call that hands it over.
struct SampleBlock {
  const float* data = nullptr;
  std::size_t count = 0;  // floats, not frames
};

}  // namespace brontide
