#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/AudioSession.h"

namespace brontide::rig {

// Records a sink's monitor (pw-record, 48 kHz, left channel kept) on its own thread.
class SinkRecorder {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr int kRate = 48000;

  explicit SinkRecorder(const std::string& sinkName);
  ~SinkRecorder();
  SinkRecorder(const SinkRecorder&) = delete;
  SinkRecorder& operator=(const SinkRecorder&) = delete;

  struct Analysis {
    double rms = 0;        // full scale = 1
    double frequency = 0;  // from zero crossings; meaningful for one pure tone
  };
  // The last `span` of sound; nullopt until that much has been recorded.
  [[nodiscard]] std::optional<Analysis> last(std::chrono::milliseconds span) const;
  // A 440 Hz (±5 Hz) tone louder than -40 dBFS over the last 200 ms.
  [[nodiscard]] bool hearsTone(double frequency = 440) const;
  [[nodiscard]] bool hearsSilence() const;
  // When the first sample louder than `threshold` at or after `after` was captured (estimated from
  // the arrival of the block that held it).
  [[nodiscard]] std::optional<Clock::time_point> onsetAfter(Clock::time_point after, double threshold = 0.05) const;

 private:
  void read();

  struct Block {
    std::size_t end;  // sample count after this block
    Clock::time_point arrived;
  };
  std::unique_ptr<testsupport::ChildProcess> child_;
  mutable std::mutex mutex_;
  std::vector<std::int16_t> samples_;
  std::vector<Block> blocks_;
  std::thread reader_;
};

}  // namespace brontide::rig
