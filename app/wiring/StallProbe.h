#pragma once

#include <QObject>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <string>

namespace brontide::app {

// Measures how long the main thread goes without running its event loop: a 5 ms timer whose lateness is a stall.
// Every stall over 20 ms, and the probe's end (after teardown), is appended to `path` as "stall MS at S" and
// "quit 0 at S", S being the monotonic clock in seconds, for the main-thread benchmark. The time from the last
// tick to the probe's end counts as a stall too: it is what teardown blocked once the loop had returned.
// Main thread.
class StallProbe final : public QObject {
 public:
  explicit StallProbe(std::string path) : file_(std::fopen(path.c_str(), "a")) {
    if (!file_) return;
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(kTick);
    connect(&timer_, &QTimer::timeout, this, [this] { tick(); });
    last_ = Clock::now();
    timer_.start();
  }
  ~StallProbe() override {
    if (!file_) return;
    tick();
    write("quit", 0);
    std::fclose(file_);
  }
  StallProbe(const StallProbe&) = delete;
  StallProbe& operator=(const StallProbe&) = delete;

 private:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::milliseconds kTick{5};
  static constexpr double kReported = 20;  // ms

  void tick() {
    const auto now = Clock::now();
    const auto late = std::chrono::duration<double, std::milli>(now - last_ - kTick).count();
    last_ = now;
    if (late > kReported) write("stall", late);
  }
  void write(const char* what, double ms) {
    const double at = std::chrono::duration<double>(Clock::now().time_since_epoch()).count();
    std::fprintf(file_, "%s %.1f at %.3f\n", what, ms, at);
    std::fflush(file_);
  }

  std::FILE* file_;
  QTimer timer_;
  Clock::time_point last_;
};

}  // namespace brontide::app
