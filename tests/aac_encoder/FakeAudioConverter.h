#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "aac_encoder/AudioConverter.h"

namespace brontide::fakes {

// What the test sees of a fake converter and how it steers it; shared with the converter, which the encoder owns.
struct FakeConverterScript {
  std::mutex mutex;
  std::condition_variable changed;

  // Steering.
  bool greedy = false;          // keep pulling until the input procedure says no, like a codec with look-ahead
  int blockCall = -1;           // this fill call (0-based) waits until `released`
  bool released = false;
  std::deque<std::uint32_t> packetSizes;  // next packet sizes; 300 bytes once empty
  std::deque<std::int32_t> refuse;        // fill calls answered with this status before pulling any input
  std::uint32_t maxPacketSize = 1536;     // what the converter reports
  std::int32_t maxPacketStatus = 0;

  // Observations.
  int fillCalls = 0;
  bool blocked = false;
  std::vector<float> pulled;             // every sample handed over, in order
  std::vector<std::int32_t> inputStatuses;  // every status the input procedure returned
  std::uint32_t bitRate = 0;
  bool disposed = false;

  template <class Pred>
  bool waitFor(Pred pred) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, std::chrono::seconds(10), pred);
  }
  void release() {
    std::lock_guard lock(mutex);
    released = true;
    changed.notify_all();
  }
};

// Makes one 1024-frame packet per fill call from exactly the frames it pulled; packet bytes count up from
// the packet's index so order and completeness show.
class FakeAudioConverter final : public AudioConverter {
 public:
  explicit FakeAudioConverter(std::shared_ptr<FakeConverterScript> script) : script_(std::move(script)) {}
  ~FakeAudioConverter() override {
    std::lock_guard lock(script_->mutex);
    script_->disposed = true;
    script_->changed.notify_all();
  }

  std::int32_t setBitRate(std::uint32_t bitsPerSecond) override {
    std::lock_guard lock(script_->mutex);
    script_->bitRate = bitsPerSecond;
    return 0;
  }
  std::int32_t maximumOutputPacketSize(std::uint32_t& bytes) override {
    std::lock_guard lock(script_->mutex);
    if (script_->maxPacketStatus == 0) bytes = script_->maxPacketSize;
    return script_->maxPacketStatus;
  }

  std::int32_t fillComplexBuffer(AudioConverterInputProc inputProc, void* userData, std::uint32_t& ioPackets,
                                 ConverterBuffer& output, AudioStreamPacketDescription*) override {
    bool greedy = false;
    {
      std::unique_lock lock(script_->mutex);
      const int call = script_->fillCalls++;
      if (call == script_->blockCall) {
        script_->blocked = true;
        script_->changed.notify_all();
        script_->changed.wait(lock, [&] { return script_->released; });
      }
      script_->changed.notify_all();
      if (!script_->refuse.empty()) {
        const auto status = script_->refuse.front();
        script_->refuse.pop_front();
        ioPackets = 0;
        return status;
      }
      greedy = script_->greedy;
    }
    std::int32_t status = 0;
    while (staged_ < 1024 || greedy) {
      std::uint32_t frames = greedy ? 4096 : 1024 - staged_;
      ConverterBuffer input{};
      status = inputProc(frames, input, userData);
      std::lock_guard lock(script_->mutex);
      script_->inputStatuses.push_back(status);
      const auto* samples = static_cast<const float*>(input.mData);
      script_->pulled.insert(script_->pulled.end(), samples, samples + (frames > 0 ? frames * 2 : 0));
      staged_ += frames;
      if (status != 0) break;
    }
    ioPackets = 0;
    if (staged_ >= 1024) {
      staged_ -= 1024;
      std::lock_guard lock(script_->mutex);
      std::uint32_t size = 300;
      if (!script_->packetSizes.empty()) {
        size = script_->packetSizes.front();
        script_->packetSizes.pop_front();
      }
      size = std::min(size, output.mDataByteSize);
      auto* bytes = static_cast<std::uint8_t*>(output.mData);
      for (std::uint32_t i = 0; i < size; ++i) bytes[i] = std::uint8_t(packetIndex_ + i);
      ++packetIndex_;
      output.mDataByteSize = size;
      ioPackets = 1;
    }
    return status;
  }

 private:
  std::shared_ptr<FakeConverterScript> script_;
  std::uint32_t staged_ = 0;
  std::uint8_t packetIndex_ = 0;
};

// Hands out fake converters sharing one script, or fails as told.
class FakeAudioConverterFactory final : public AudioConverterFactory {
 public:
  std::expected<std::unique_ptr<AudioConverter>, std::int32_t> create(
      const AudioStreamBasicDescription&, const AudioStreamBasicDescription&) override {
    ++creates;
    if (failStatus != 0) return std::unexpected(failStatus);
    if (absentHandle) return std::unique_ptr<AudioConverter>();
    return std::make_unique<FakeAudioConverter>(script);
  }

  std::shared_ptr<FakeConverterScript> script = std::make_shared<FakeConverterScript>();
  std::int32_t failStatus = 0;
  bool absentHandle = false;
  int creates = 0;
};

}  // namespace brontide::fakes
