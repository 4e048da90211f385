#pragma once

#include <cstdint>
#include <expected>
#include <functional>
#include <memory>
#include <span>

#include "base/AudioFormat.h"
#include "base/Error.h"

namespace brontide {

// What the controller needs of the AAC encoder (implemented by AACEncoder in the app's wiring).
class FrameEncoder {
 public:
  using OnFrame = std::function<void(std::span<const std::uint8_t> adtsFrame)>;

  virtual ~FrameEncoder() = default;
  [[nodiscard]] virtual double sampleRate() const = 0;
  // Main thread, once, before samples flow; called on the encoder's queue per frame.
  virtual void setOnFrame(OnFrame onFrame) = 0;
  // Under the encoder's gain lock; any thread.
  virtual void setGain(float gain) = 0;
  [[nodiscard]] virtual float gain() const = 0;
  // The capture's IO thread: copies and returns at once.
  virtual void append(SampleBlock samples) = 0;
};

using MakeEncoder =
    std::function<std::expected<std::shared_ptr<FrameEncoder>, Error>(double sampleRate, std::uint32_t bitRate)>;

}  // namespace brontide
