#pragma once

#include <atomic>
#include <cstdint>
#include <expected>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "aac_encoder/AudioConverter.h"
#include "base/Error.h"
#include "controller/FrameEncoder.h"

namespace brontide {

// Encodes interleaved stereo float samples to AAC-LC, one ADTS frame per packet, on its own serial queue
// "brontide.encoder". create, setOnFrame and setGain: main thread; append: the capture thread;
// onFrame and all encoding: the queue. Shared because the queue holds it weakly while it works.
class AACEncoder final : public FrameEncoder, public std::enable_shared_from_this<AACEncoder> {
 public:
  static constexpr std::int64_t holdCapacity = 8192;  // stereo frames handed to the converter per input call
  static constexpr std::uint32_t kFramesPerPacket = 1024;

  [[nodiscard]] static std::expected<std::shared_ptr<AACEncoder>, Error> create(
      double sampleRate, std::uint32_t bitRate, AudioConverterFactory& converters);

  AACEncoder(const AACEncoder&) = delete;
  AACEncoder& operator=(const AACEncoder&) = delete;
  // Drops what is pending; joins the queue's thread unless it runs on it.
  ~AACEncoder() override;

  [[nodiscard]] double sampleRate() const override { return sampleRate_; }
  void setOnFrame(OnFrame onFrame) override;
  void setGain(float gain) override;
  [[nodiscard]] float gain() const override;
  // Copies (or scales) the samples and wakes the queue; never waits for encoding.
  void append(SampleBlock samples) override;

  // Blocks until every append made before the call has been handled on the queue. For tests and tools:
  // never from the main or capture thread. Returns at once when called on the queue itself.
  void drain();

  // The most floats kept waiting: two seconds of stereo audio.
  [[nodiscard]] std::size_t pendingCapacity() const;

 private:
  struct Queue;
  struct Token {};

 public:
  AACEncoder(Token, double sampleRate);

 private:
  void encodeAvailable();
  static std::int32_t inputProc(std::uint32_t& ioNumberDataPackets, ConverterBuffer& ioData, void* userData);
  static void runQueue(std::shared_ptr<Queue> queue, std::weak_ptr<AACEncoder> owner);

  const double sampleRate_;
  // Outlives the encoder when teardown happens on the queue's own thread.
  std::shared_ptr<Queue> queue_;
  mutable std::mutex onFrameLock_;  // held only to copy the pointer
  std::shared_ptr<const OnFrame> onFrame_;
  std::unique_ptr<AudioConverter> converter_;
  std::vector<float> hold_;
  std::uint32_t maxPacketSize_ = 1536;
  std::uint8_t freqIndex_ = 0;
  std::atomic<float> gain_{1.0f};
  std::vector<std::uint8_t> frame_;  // header + one packet, reused for every frame
  std::thread thread_;
};

}  // namespace brontide
