// Latency from an ADTS frame written on the socket to its sound at the player's sink, and the
// player's CPU while playing, in a private PipeWire session. Prints figures; never fails on them.
#include <gst/gst.h>
#include <pipewire/pipewire.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "fakes/RecordingLog.h"
#include "fakes/VirtualMainQueue.h"
#include "linux/gstreamer/AdtsServer.h"
#include "linux/gstreamer/GstPlayer.h"
#include "support/AudioSession.h"

namespace {

using namespace std::chrono_literals;
using brontide::rig::AdtsServer;
using Clock = std::chrono::steady_clock;

constexpr int kCycles = 8;
constexpr double kOnsetThreshold = 0.05;

// First decoded sample louder than the threshold: the decoder's output counts from the first frame,
// so sample n comes out of frame n / 1024.
long onsetSample(const std::vector<brontide::rig::AdtsFrame>& frames) {
  const auto path = std::filesystem::temp_directory_path() / ("bench_player_" + std::to_string(::getpid()) + ".aac");
  {
    std::ofstream file(path, std::ios::binary);
    for (const auto& frame : frames) file.write(reinterpret_cast<const char*>(frame.data()), std::ssize(frame));
  }
  const auto pcm = brontide::testsupport::runCommand("ffmpeg -hide_banner -loglevel error -i " + path.string() +
                                             " -f s16le -ac 1 -ar 48000 - 2>/dev/null");
  std::filesystem::remove(path);
  for (std::size_t i = 0; i + 1 < pcm.size(); i += 2) {
    const auto sample = static_cast<std::int16_t>(static_cast<std::uint8_t>(pcm[i]) | (pcm[i + 1] << 8));
    if (std::abs(sample / 32768.0) >= kOnsetThreshold) return static_cast<long>(i / 2);
  }
  return -1;
}

// CPU seconds of this process's threads, by name, from /proc.
std::map<std::string, double> threadCpu() {
  std::map<std::string, double> byName;
  const double tick = static_cast<double>(::sysconf(_SC_CLK_TCK));
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
    std::ifstream stat(task.path() / "stat");
    std::string line;
    std::getline(stat, line);
    const auto open = line.find('(');
    const auto close = line.rfind(')');
    if (open == std::string::npos || close == std::string::npos) continue;
    std::istringstream rest(line.substr(close + 2));
    std::string field;
    double utime = 0, stime = 0;
    for (int i = 3; i <= 15 && rest >> field; ++i) {
      if (i == 14) utime = std::stod(field);
      if (i == 15) stime = std::stod(field);
    }
    byName[line.substr(open + 1, close - open - 1) + "#" + task.path().filename().string()] = (utime + stime) / tick;
  }
  return byName;
}

double playerCpu(const std::map<std::string, double>& before, const std::map<std::string, double>& after) {
  double total = 0;
  for (const auto& [name, seconds] : after) {
    // The rig's own threads and the main thread, which only pumps the queue, are not the player's.
    if (name.starts_with("rig.") || name.ends_with("#" + std::to_string(::getpid()))) continue;
    const auto was = before.find(name);
    total += seconds - (was == before.end() ? 0 : was->second);
  }
  return total;
}

double percentile(std::vector<double> values, double p) {
  std::sort(values.begin(), values.end());
  return values[static_cast<std::size_t>(p * (values.size() - 1) + 0.5)];
}

}  // namespace

int main(int argc, char** argv) {
  brontide::testsupport::AudioSession session{false};
  ::setenv("GSETTINGS_BACKEND", "memory", 1);
  gst_init(&argc, &argv);
  pw_init(&argc, &argv);

  // Looped by the server: 2 s of quiet noise (-56 dBFS) then 1 s of 440 Hz; with --silence, 9 s of digital
  // silence (13-byte AAC frames) then 1 s of 440 Hz, as when an app is started paused.
  const bool silence = argc > 1 && std::string_view(argv[1]) == "--silence";
  const int cycles = silence ? 4 : kCycles;
  const auto frames = brontide::rig::encodeAdts(
      silence ? "aevalsrc=exprs=0.5*sin(2*PI*440*t)*gte(mod(t\\,10)\\,9):s=48000:d=10"
              : "aevalsrc=exprs=0.5*sin(2*PI*440*t)*gte(mod(t\\,3)\\,2)+0.003*(random(0)*2-1):s=48000:d=3");
  const long onset = onsetSample(frames);
  if (frames.empty() || onset < 0) {
    std::fprintf(stderr, "ffmpeg could not make the test signal\n");
    return 1;
  }
  const auto onsetFrame = static_cast<std::uint64_t>(onset / 1024);
  const auto inFrame = std::chrono::nanoseconds(1'000'000'000LL * (onset % 1024) / 48000);

  std::mutex mutex;
  std::vector<Clock::time_point> onsetWrites;
  AdtsServer server(frames, [&](std::uint64_t index, Clock::time_point when) {
    if (index % frames.size() != onsetFrame) return;
    std::lock_guard lock(mutex);
    onsetWrites.push_back(when);
  });
  brontide::testsupport::MonitorRecording sink(brontide::testsupport::kDefaultSink);
  brontide::fakes::VirtualMainQueue queue;
  brontide::fakes::RecordingLog log;
  brontide::linux::gstreamer::GstPlayer player(queue, log);
  player.setAllowsExternalPlayback(true);
  player.setAutomaticallyWaitsToMinimizeStalling(true);

  const auto loadedAt = Clock::now();
  const auto item = player.makeItem(server.address(), 1.0);
  player.replaceCurrentItem(item);
  player.play();
  if (!queue.pumpUntil([&] { return sink.hearsTone(); }, 25s)) {
    std::fprintf(stderr, "the player never played the tone\n");
    return 1;
  }
  const auto playingAt = Clock::now();
  const auto cpuBefore = threadCpu();
  std::size_t firstWrite = 0;
  {
    std::lock_guard lock(mutex);
    firstWrite = onsetWrites.size();  // onsets written from now on are heard whole
  }
  queue.pumpUntil(
      [&] {
        std::lock_guard lock(mutex);
        return onsetWrites.size() >= firstWrite + static_cast<std::size_t>(cycles) + 1;
      },
      60s);
  const auto cpuAfter = threadCpu();
  const auto measuredFor = std::chrono::duration<double>(Clock::now() - playingAt).count();

  std::vector<double> latencies;
  {
    std::lock_guard lock(mutex);
    for (std::size_t i = firstWrite; i + 1 < onsetWrites.size(); ++i) {
      const auto heard = sink.onsetAfter(onsetWrites[i], kOnsetThreshold);
      if (!heard || *heard >= onsetWrites[i + 1]) continue;
      latencies.push_back(std::chrono::duration<double>(*heard - (onsetWrites[i] + inFrame)).count());
    }
  }

  std::printf("player: souphttpsrc ! aacparse ! avdec_aac ! queue (forward buffer 1.0 s) ! appsink -> PlaybackStream, %s\n",
              silence ? "9 s of digital silence, 1 s of tone" : "2 s of quiet noise, 1 s of tone");
  std::printf("start: item made current -> first tone at the sink: %.3f s\n",
              std::chrono::duration<double>(playingAt - loadedAt).count());
  if (latencies.empty()) {
    std::printf("latency: no onset matched\n");
  } else {
    std::printf("latency frame written -> sound at sink (%zu onsets): min %.3f s, p50 %.3f s, max %.3f s\n",
                latencies.size(), *std::min_element(latencies.begin(), latencies.end()), percentile(latencies, 0.5),
                *std::max_element(latencies.begin(), latencies.end()));
  }
  std::printf("cpu of the player's threads while playing: %.1f %% of one core over %.1f s\n",
              100.0 * playerCpu(cpuBefore, cpuAfter) / measuredFor, measuredFor);
  return 0;
}
