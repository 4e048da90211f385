// Prints what LevelMeter::feed costs the capture thread per block, alone and against a main thread
// that takes the peak as fast as it can (the real meter tick takes it every 50 ms).
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "controller/LevelMeter.h"

namespace {

double nanosecondsPerFeed(brontide::LevelMeter& meter, std::size_t frames, int blocks) {
  std::vector<float> samples(frames * 2);
  for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<float>(i % 97) / 97.0f - 0.5f;
  const auto begin = std::chrono::steady_clock::now();
  for (int i = 0; i < blocks; ++i) meter.feed(brontide::SampleBlock{samples.data(), samples.size()});
  const auto elapsed = std::chrono::steady_clock::now() - begin;
  return std::chrono::duration<double, std::nano>(elapsed).count() / blocks;
}

}  // namespace

int main() {
  constexpr int kBlocks = 200000;
  std::printf("%-8s %14s %20s\n", "frames", "ns/feed alone", "ns/feed contended");
  for (const std::size_t frames : {256u, 1024u, 2048u}) {
    brontide::LevelMeter meter;
    const double alone = nanosecondsPerFeed(meter, frames, kBlocks);
    std::atomic<bool> done{false};
    std::thread taker([&] {
      float sink = 0;
      while (!done.load(std::memory_order_relaxed)) sink += meter.takePeak();
      std::printf("%s", sink < 0 ? " " : "");
    });
    const double contended = nanosecondsPerFeed(meter, frames, kBlocks);
    done = true;
    taker.join();
    std::printf("%-8zu %14.1f %20.1f\n", frames, alone, contended);
  }
}
