#include "controller/LevelMeter.h"

#include <cmath>

namespace brontide {

void LevelMeter::feed(SampleBlock samples) {
  // Every 8th sample is enough for a meter and keeps the IO thread's work small.
  float m = 0;
  for (std::size_t i = 0; i < samples.count; i += 8) {
    const float magnitude = std::fabs(samples.data[i]);
    if (magnitude >= m) m = magnitude;
  }
  std::lock_guard guard(lock_);
  if (peak_ <= m) peak_ = m;
}

float LevelMeter::takePeak() {
  std::lock_guard guard(lock_);
  const float peak = peak_;
  peak_ = 0;
  return peak;
}

}  // namespace brontide
