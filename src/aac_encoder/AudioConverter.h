#pragma once

#include <cstdint>
#include <expected>
#include <memory>

#include "base/AudioFormat.h"
#include "base/Error.h"

namespace brontide {

// What an input procedure answers when it has nothing to give: the fill call ends there.
constexpr std::int32_t kAudioConverterMoreInput = std::int32_t(fourCharCode("more"));

// One buffer of interleaved samples or of one encoded packet.
struct ConverterBuffer {
  std::uint32_t mNumberChannels = 0;
  std::uint32_t mDataByteSize = 0;
  void* mData = nullptr;
};

struct AudioStreamPacketDescription {
  std::int64_t mStartOffset = 0;
  std::uint32_t mVariableFramesInPacket = 0;
  std::uint32_t mDataByteSize = 0;
};

// Called by the converter, on the thread of the fill call, whenever it needs input. On entry
// `ioNumberDataPackets` is how many stereo frames it wants; on return, how many `ioData` holds (whole frames).
// A non-zero status ends the fill call after any packet already made.
using AudioConverterInputProc = std::int32_t (*)(std::uint32_t& ioNumberDataPackets, ConverterBuffer& ioData,
                                                 void* userData);

// A PCM → AAC converter; one thread at a time. Destroying it disposes it.
class AudioConverter {
 public:
  virtual ~AudioConverter() = default;

  virtual std::int32_t setBitRate(std::uint32_t bitsPerSecond) = 0;
  // Overwrites `bytes` only when it succeeds.
  virtual std::int32_t maximumOutputPacketSize(std::uint32_t& bytes) = 0;
  // Produces at most `ioOutputDataPacketSize` packets into `outOutputData` (capacity in mDataByteSize),
  // pulling input through `inputProc`; on return the count and byte size say what was made.
  virtual std::int32_t fillComplexBuffer(AudioConverterInputProc inputProc, void* inputProcUserData,
                                         std::uint32_t& ioOutputDataPacketSize, ConverterBuffer& outOutputData,
                                         AudioStreamPacketDescription* outPacketDescription) = 0;
};

// Creates converters; the encoder's constructor thread.
class AudioConverterFactory {
 public:
  virtual ~AudioConverterFactory() = default;
  // Never a null converter; fails with EncoderNotCreated and the library's words.
  [[nodiscard]] virtual std::expected<std::unique_ptr<AudioConverter>, Error> create(
      const AudioStreamBasicDescription& input, const AudioStreamBasicDescription& output) = 0;
};

}  // namespace brontide
