#pragma once

#include <atomic>
#include <expected>
#include <memory>
#include <mutex>
#include <vector>

#include "controller/FrameEncoder.h"

namespace brontide::fakes {

// Counts what it is given; emitFrame() plays the encoder's queue handing out a frame.
class FakeEncoder final : public FrameEncoder {
 public:
  explicit FakeEncoder(double sampleRate) : sampleRate_(sampleRate) {}

  [[nodiscard]] double sampleRate() const override { return sampleRate_; }
  void setOnFrame(OnFrame onFrame) override { onFrame_ = std::move(onFrame); }
  void setGain(float gain) override {
    std::lock_guard guard(mutex_);
    gain_ = gain;
  }
  [[nodiscard]] float gain() const override {
    std::lock_guard guard(mutex_);
    return gain_;
  }
  void append(SampleBlock samples) override {
    appended.fetch_add(1, std::memory_order_relaxed);
    samplesAppended.fetch_add(samples.count, std::memory_order_relaxed);
  }

  void emitFrame(std::span<const std::uint8_t> frame) {
    if (onFrame_) onFrame_(frame);
  }

  std::atomic<int> appended{0};
  std::atomic<std::size_t> samplesAppended{0};

 private:
  double sampleRate_;
  OnFrame onFrame_;
  mutable std::mutex mutex_;
  float gain_ = 1.0f;
};

// Makes FakeEncoders (or fails as told) and remembers each one weakly. Main thread.
class FakeEncoderFactory {
 public:
  [[nodiscard]] MakeEncoder make() {
    return [this](double sampleRate, std::uint32_t bitRate) -> std::expected<std::shared_ptr<FrameEncoder>, TapError> {
      bitRates.push_back(bitRate);
      if (!failures.empty()) {
        auto failure = failures.front();
        failures.erase(failures.begin());
        return std::unexpected(failure);
      }
      auto encoder = std::make_shared<FakeEncoder>(sampleRate);
      made.push_back(encoder);
      return encoder;
    };
  }
  // The newest encoder, while someone still holds it.
  [[nodiscard]] std::shared_ptr<FakeEncoder> latest() const { return made.empty() ? nullptr : made.back().lock(); }

  std::vector<std::weak_ptr<FakeEncoder>> made;
  std::vector<std::uint32_t> bitRates;
  std::vector<TapError> failures;  // the next creations fail with these, in order
};

}  // namespace brontide::fakes
