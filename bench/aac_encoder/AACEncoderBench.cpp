// Prints the AAC encoder's speed beside the ffmpeg command line's, the cost of one append on the calling
// thread and the process's peak memory. Figures only; nothing passes or fails.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <sys/resource.h>
#include <unistd.h>

#include "aac_encoder/AACEncoder.h"
#include "linux/ffmpeg/FFmpegAudioConverter.h"
#include "support/MusicLike.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr double kRate = 48000;
constexpr std::uint32_t kBitRate = 256000;
constexpr std::size_t kBlockFrames = 1024;

long statusKb(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(field, 0) == 0) return std::strtol(line.c_str() + std::string(field).size(), nullptr, 10);
  }
  return -1;
}

double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// User + system CPU seconds of this process or of its waited-for children.
double cpuSeconds(int who) {
  rusage usage{};
  getrusage(who, &usage);
  return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct Encoded {
  double wallSeconds = 0;
  double cpuSeconds = 0;
  std::size_t frames = 0;
  std::size_t bytes = 0;
};

// Appends as a capture would, but as fast as the queue keeps up (never more than 0.5 s ahead, so the
// two-second cap drops nothing), and waits for every frame libavcodec will give without a flush.
Encoded encodeWithAACEncoder(const std::vector<float>& input) {
  brontide::linux::ffmpeg::FFmpegAudioConverterFactory converters;
  auto encoder = std::move(*brontide::AACEncoder::create(kRate, kBitRate, converters));
  std::mutex mutex;
  std::condition_variable progressed;
  Encoded result;
  encoder->setOnFrame([&](std::span<const std::uint8_t> frame) {
    std::lock_guard lock(mutex);
    ++result.frames;
    result.bytes += frame.size();
    progressed.notify_all();
  });
  const std::size_t totalFrames = input.size() / 2;
  const std::size_t expectedFrames = totalFrames / 1024 - 1;
  const double cpuStart = cpuSeconds(RUSAGE_SELF);
  const auto start = Clock::now();
  for (std::size_t at = 0; at < totalFrames; at += kBlockFrames) {
    {
      std::unique_lock lock(mutex);
      progressed.wait(lock, [&] { return at <= (result.frames + 1) * 1024 + std::size_t(kRate / 2); });
    }
    encoder->append({input.data() + 2 * at, 2 * std::min(kBlockFrames, totalFrames - at)});
  }
  std::unique_lock lock(mutex);
  progressed.wait(lock, [&] { return result.frames >= expectedFrames; });
  result.wallSeconds = seconds(Clock::now() - start);
  result.cpuSeconds = cpuSeconds(RUSAGE_SELF) - cpuStart;
  return result;
}

Encoded encodeWithFfmpegCommand(const std::vector<float>& input) {
  Encoded result;
  char path[] = "/tmp/brontide-bench-XXXXXX";
  const int fd = mkstemp(path);
  if (fd < 0) return result;
  close(fd);
  const std::string command = "ffmpeg -hide_banner -loglevel error -f f32le -ar 48000 -ac 2 -i - -c:a aac -b:a 256k "
                              "-f adts - > " + std::string(path);
  const double cpuStart = cpuSeconds(RUSAGE_CHILDREN);
  const auto start = Clock::now();
  FILE* pipe = popen(command.c_str(), "w");
  if (pipe == nullptr) return result;
  std::fwrite(input.data(), sizeof(float), input.size(), pipe);
  const int status = pclose(pipe);
  result.wallSeconds = seconds(Clock::now() - start);
  result.cpuSeconds = cpuSeconds(RUSAGE_CHILDREN) - cpuStart;
  if (status != 0) result.wallSeconds = 0;
  std::ifstream out(path, std::ios::binary | std::ios::ate);
  result.bytes = std::size_t(out.tellg());
  std::remove(path);
  return result;
}

void appendLatency(const std::vector<float>& input, float gain) {
  brontide::linux::ffmpeg::FFmpegAudioConverterFactory converters;
  auto encoder = std::move(*brontide::AACEncoder::create(kRate, kBitRate, converters));
  encoder->setOnFrame([](std::span<const std::uint8_t>) {});
  encoder->setGain(gain);
  constexpr int kAppends = 3000;
  std::vector<double> ns;
  ns.reserve(kAppends);
  for (int i = 0; i < kAppends; ++i) {
    const std::size_t at = (std::size_t(i) * kBlockFrames * 2) % (input.size() - kBlockFrames * 2);
    const auto start = Clock::now();
    encoder->append({input.data() + at, kBlockFrames * 2});
    ns.push_back(std::chrono::duration<double, std::nano>(Clock::now() - start).count());
    // About 20 times real time: the queue encodes alongside, as it would under a capture.
    std::this_thread::sleep_for(std::chrono::microseconds(1000));
  }
  std::sort(ns.begin(), ns.end());
  std::printf("append of %zu frames, gain %.1f: median %.0f ns, p99 %.0f ns, max %.0f ns (%d calls)\n", kBlockFrames,
              gain, ns[ns.size() / 2], ns[ns.size() * 99 / 100], ns.back(), kAppends);
}

}  // namespace

int main() {
  constexpr double kSeconds = 30;
  const auto input = brontide::testsupport::musicLike(kRate, std::size_t(kSeconds * kRate));
  const long baselineKb = statusKb("VmRSS:");
  std::printf("input: %.0f s of music-like stereo at %.0f Hz, %u bit/s requested\n", kSeconds, kRate, kBitRate);

  const auto ours = encodeWithAACEncoder(input);
  std::printf("AACEncoder + libavcodec: %.3f s wall (%.1fx real time), %.3f s CPU (%.1fx), %zu frames, %.1f kbit/s\n",
              ours.wallSeconds, kSeconds / ours.wallSeconds, ours.cpuSeconds, kSeconds / ours.cpuSeconds, ours.frames,
              ours.bytes * 8 / kSeconds / 1000);
  const long afterEncodeKb = statusKb("VmHWM:");

  const auto reference = encodeWithFfmpegCommand(input);
  if (reference.wallSeconds > 0) {
    std::printf("ffmpeg -c:a aac -b:a 256k -f adts: %.3f s wall (%.1fx real time), %.3f s CPU (%.1fx), %.1f kbit/s\n",
                reference.wallSeconds, kSeconds / reference.wallSeconds, reference.cpuSeconds,
                kSeconds / reference.cpuSeconds, reference.bytes * 8 / kSeconds / 1000);
    std::printf("speed ratio AACEncoder / ffmpeg: %.2f wall, %.2f CPU\n", reference.wallSeconds / ours.wallSeconds,
                reference.cpuSeconds / ours.cpuSeconds);
  } else {
    std::printf("ffmpeg command not available: no reference figure\n");
  }

  appendLatency(input, 1.0f);
  appendLatency(input, 0.5f);

  std::printf("memory: RSS with the input %ld KiB; peak after encoding %ld KiB (+%ld KiB); peak at exit %ld KiB\n",
              baselineKb, afterEncodeKb, afterEncodeKb - baselineKb, statusKb("VmHWM:"));
  return 0;
}
