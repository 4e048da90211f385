#include "linux/gstreamer/SinkRecorder.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cmath>

namespace brontide::rig {

SinkRecorder::SinkRecorder(const std::string& sinkName)
    : child_(std::make_unique<testsupport::ChildProcess>(std::vector<std::string>{
          "pw-record", "--target", sinkName, "-P", "{ stream.capture.sink=true node.name=brontide-test-recorder }",
          "--rate", "48000", "--channels", "2", "--format", "s16", "--latency", "10ms", "-"},
                                                         true)) {
  reader_ = std::thread([this] {
    pthread_setname_np(pthread_self(), "rig.record");
    read();
  });
}

SinkRecorder::~SinkRecorder() {
  child_->stop(SIGTERM);  // ends the pipe, and so the reader
  reader_.join();
}

void SinkRecorder::read() {
  std::vector<std::int16_t> buffer(4096);
  std::size_t carry = 0;  // bytes of an incomplete stereo frame kept at the front
  auto* bytes = reinterpret_cast<char*>(buffer.data());
  for (;;) {
    const auto got = ::read(child_->stdoutFd(), bytes + carry, buffer.size() * 2 - carry);
    if (got <= 0) return;
    const auto now = Clock::now();
    const std::size_t available = carry + static_cast<std::size_t>(got);
    const std::size_t frames = available / 4;
    {
      std::lock_guard lock(mutex_);
      for (std::size_t i = 0; i < frames; ++i) samples_.push_back(buffer[i * 2]);
      blocks_.push_back({samples_.size(), now});
    }
    carry = available - frames * 4;
    std::copy(bytes + frames * 4, bytes + available, bytes);
  }
}

std::optional<SinkRecorder::Analysis> SinkRecorder::last(std::chrono::milliseconds span) const {
  const auto count = static_cast<std::size_t>(span.count() * kRate / 1000);
  std::lock_guard lock(mutex_);
  if (samples_.size() < count || count < 2) return std::nullopt;
  const auto* begin = samples_.data() + samples_.size() - count;
  double energy = 0;
  int crossings = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const double x = begin[i] / 32768.0;
    energy += x * x;
    if (i > 0 && (begin[i] < 0) != (begin[i - 1] < 0)) ++crossings;
  }
  return Analysis{std::sqrt(energy / count), crossings / 2.0 / (static_cast<double>(count) / kRate)};
}

bool SinkRecorder::hearsTone(double frequency) const {
  const auto window = last(std::chrono::milliseconds(200));
  return window && window->rms > 0.01 && std::abs(window->frequency - frequency) <= 5;
}

bool SinkRecorder::hearsSilence() const {
  const auto window = last(std::chrono::milliseconds(200));
  return window && window->rms < 0.001;
}

std::optional<SinkRecorder::Clock::time_point> SinkRecorder::onsetAfter(Clock::time_point after,
                                                                        double threshold) const {
  std::lock_guard lock(mutex_);
  std::size_t start = 0;
  for (const auto& block : blocks_) {
    const auto blockStart = start;
    start = block.end;
    if (block.arrived < after) continue;
    for (std::size_t i = blockStart; i < block.end; ++i) {
      if (std::abs(samples_[i] / 32768.0) < threshold) continue;
      // The block arrived once its last sample was captured.
      const auto later = std::chrono::nanoseconds(1'000'000'000LL * static_cast<long long>(block.end - i) / kRate);
      return block.arrived - later;
    }
  }
  return std::nullopt;
}

}  // namespace brontide::rig
