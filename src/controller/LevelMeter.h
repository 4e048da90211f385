#pragma once

#include <mutex>

#include "base/AudioFormat.h"

namespace brontide {

// Holds the peak of the captured samples between two meter ticks.
// feed: the capture's IO thread; takePeak: the main thread. The lock is held for one comparison or swap.
class LevelMeter {
 public:
  void feed(SampleBlock samples);
  [[nodiscard]] float takePeak();

 private:
  std::mutex lock_;
  float peak_ = 0;
};

}  // namespace brontide
