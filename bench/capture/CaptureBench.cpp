// Figures for a running tap on a private PipeWire session: time from start() to the first block, CPU of
// the process while a tap runs for 10 s, and block sizes.
// Prints figures only.
#include <pipewire/pipewire.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <iostream>

#include "linux/pipewire/PipeWireCapture.h"
#include "support/AudioSession.h"

using namespace brontide;
using Clock = std::chrono::steady_clock;

namespace {

struct QuietLog final : Log {
  void notice(const std::string&) override {}
};

double cpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

template <class T>
void printStats(const char* what, std::vector<T> values, const char* unit) {
  std::ranges::sort(values);
  if (values.empty()) return;
  std::printf("%-44s min %8.3f  median %8.3f  max %8.3f %s (n=%zu)\n", what, double(values.front()),
              double(values[values.size() / 2]), double(values.back()), unit, values.size());
}

}  // namespace

int main(int argc, char** argv) {
  testsupport::AudioSession session(false);
  pw_init(&argc, &argv);
  const auto wav = testsupport::writeToneWav(session.dir() + "/bench.wav", 440, 30);
  testsupport::ChildProcess app({"pw-play", "--properties", "{ application.id = \"org.brontide.bench\" }", wav});
  QuietLog log;
  linux::pipewire::PipeWireCapture capture(log);
  std::vector<AudioObjectID> objects;
  testsupport::eventually([&] { return !(objects = capture.audioProcessObjects("org.brontide.bench")).empty(); });
  if (objects.empty()) {
    std::cerr << "the bench source did not appear\n";
    return 1;
  }

  std::vector<double> firstBlockMs, startCallMs;
  for (int round = 0; round < 6; ++round) {
    std::atomic<bool> first{false};
    std::atomic<long long> firstAt{0};
    auto tap = capture.makeTap(objects, false);
    const auto t0 = Clock::now();
    auto started = tap->start([&](const AudioStreamBasicDescription&) -> std::expected<TapSink, Error> {
      return TapSink([&](SampleBlock) {
        if (!first.exchange(true)) firstAt = (Clock::now() - t0).count();
      });
    });
    startCallMs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
    if (!started) {
      std::cerr << logText(started.error()) << '\n';
      return 1;
    }
    testsupport::eventually([&] { return first.load(); }, std::chrono::milliseconds(3000));
    firstBlockMs.push_back(double(firstAt.load()) / 1e6);
    tap->stop();
    tap.reset();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // past the grace: a cold start each round
  }
  printStats("start() call", startCallMs, "ms");
  printStats("start() to first block", firstBlockMs, "ms");

  std::mutex mutex;
  std::vector<std::size_t> blockFrames;
  std::vector<double> sinkNs;
  auto tap = capture.makeTap(objects, false);
  (void)tap->start([&](const AudioStreamBasicDescription&) -> std::expected<TapSink, Error> {
    return TapSink([&](SampleBlock block) {
      // A representative sink: the peak of the block, as the level meter computes it.
      const auto t0 = Clock::now();
      float peak = 0;
      for (std::size_t i = 0; i < block.count; ++i) peak = std::max(peak, std::abs(block.data[i]));
      const double ns = std::chrono::duration<double, std::nano>(Clock::now() - t0).count();
      std::lock_guard lock(mutex);
      if (blockFrames.size() < 100000) {
        blockFrames.push_back(block.count / 2);
        sinkNs.push_back(ns + peak * 0);
      }
    });
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  const double cpu0 = cpuSeconds();
  const auto wall0 = Clock::now();
  std::this_thread::sleep_for(std::chrono::seconds(10));
  const double cpu = cpuSeconds() - cpu0;
  const double wall = std::chrono::duration<double>(Clock::now() - wall0).count();
  tap->stop();
  std::lock_guard lock(mutex);
  std::printf("CPU of this process with a running tap: %.2f %% of one core over %.1f s\n", 100 * cpu / wall, wall);
  printStats("frames per block", blockFrames, "frames");
  printStats("peak sink per block", sinkNs, "ns");
  return 0;
}
