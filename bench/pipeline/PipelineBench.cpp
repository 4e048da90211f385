// Latency and cost of `brontide --headless` on one tone, in a private PipeWire session.
//
// An in-process source plays 440 Hz bursts (0.3 s every 2 s) under a known app id. For each burst the
// program notes when its first sample entered the graph, when Brontide's sink handed it on (its monitor,
// as Brontide's capture stream sees it), when the ADTS frame carrying it arrived at a client of Brontide's
// port, and when the player's sound reached the default sink (where only the player plays: the source is
// moved into Brontide's sink). An argument forces the graph's quantum to that many frames. Meanwhile it reads Brontide's CPU and memory,
// and feeds the same real-time audio (from Brontide's sink) to ffmpeg encoding AAC 256 kbit/s.
// Graph times are taken in the stream callbacks, so each figure is good to about one quantum.
#include <pipewire/pipewire.h>
#include <spa/param/audio/format-utils.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <numbers>
#include <sstream>
#include <thread>
#include <utility>
#include <vector>

#include "../ProcessFigures.h"
#include "e2e/HeadlessBrontide.h"
#include "linux/pipewire/Handles.h"
#include "support/AacDecoder.h"
#include "support/AudioSession.h"

namespace {

using namespace std::chrono_literals;
using namespace brontide::bench;
using brontide::e2e::Clock;

constexpr std::uint32_t kRate = 48000;
constexpr double kPeriodSeconds = 2.0;
constexpr double kBurstSeconds = 0.3;
constexpr int kBursts = 10;
constexpr float kOnset = 0.1f;  // the bursts play at 0.5

double seconds(Clock::time_point t) { return std::chrono::duration<double>(t.time_since_epoch()).count(); }

// Onsets of bursts in a sample stream: the first loud sample after at least 0.5 s of quiet.
class OnsetDetector {
 public:
  explicit OnsetDetector(std::uint32_t rate) : quietNeeded_(rate / 2) {}
  // Returns the index in `samples` of an onset, if one starts there.
  std::optional<std::size_t> scan(const float* samples, std::size_t count, std::size_t stride) {
    std::optional<std::size_t> found;
    for (std::size_t i = 0; i < count; ++i) {
      if (std::fabs(samples[i * stride]) >= kOnset) {
        if (quiet_ >= quietNeeded_ && !found) found = i;
        quiet_ = 0;
      } else {
        ++quiet_;
      }
    }
    return found;
  }

 private:
  std::size_t quietNeeded_;
  std::size_t quiet_ = 0;
};

struct Times {
  std::mutex mutex;
  std::vector<double> entered, atTap, atSocket, atSink;
  void add(std::vector<double>& list, double t) {
    std::lock_guard lock(mutex);
    list.push_back(t);
  }
};

// The source and the two recorders share one PipeWire loop of this process.
class Graph {
 public:
  Graph(Times& times, int ffmpegInput) : times_(times), ffmpegInput_(ffmpegInput) {
    loop_ = pw_thread_loop_new("bench", nullptr);
    context_ = pw_context_new(pw_thread_loop_get_loop(loop_), nullptr, 0);
    pw_thread_loop_start(loop_);
  }
  ~Graph() {
    pw_thread_loop_lock(loop_);
    for (auto* s : streams_) pw_stream_destroy(s);
    pw_thread_loop_unlock(loop_);
    pw_thread_loop_stop(loop_);
    pw_context_destroy(context_);
    pw_thread_loop_destroy(loop_);
  }

  void playBursts() {
    add(pw_properties_new(PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY, "Playback", PW_KEY_APP_ID,
                          "org.example.bench", PW_KEY_APP_NAME, "Pulso", nullptr),
        PW_DIRECTION_OUTPUT, &Graph::produce);
  }
  // The player's sound on the default sink, and Brontide's sink's audio for ffmpeg.
  void record(const std::string& defaultSink, const std::string& tapSink) {
    add(pw_properties_new(PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY, "Capture", PW_KEY_STREAM_CAPTURE_SINK,
                          "true", PW_KEY_TARGET_OBJECT, defaultSink.c_str(), PW_KEY_NODE_DONT_RECONNECT, "true",
                          nullptr),
        PW_DIRECTION_INPUT, &Graph::hearPlayer);
    add(pw_properties_new(PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY, "Capture", PW_KEY_STREAM_CAPTURE_SINK,
                          "true", PW_KEY_TARGET_OBJECT, tapSink.c_str(), PW_KEY_NODE_DONT_RECONNECT, "true", nullptr),
        PW_DIRECTION_INPUT, &Graph::feedFfmpeg);
  }
  std::uint64_t framesFed() const { return fed_ / (2 * sizeof(float)); }

 private:
  using Handler = void (Graph::*)(pw_stream*);
  struct Binding {
    Graph* graph;
    pw_stream* stream;
    Handler handler;
    spa_hook listener;
  };

  void add(pw_properties* props, pw_direction direction, Handler handler) {
    pw_thread_loop_lock(loop_);
    if (!core_) core_ = pw_context_connect(context_, nullptr, 0);
    auto* stream = pw_stream_new(core_, "bench", props);
    auto& binding = bindings_.emplace_back(std::make_unique<Binding>(Binding{this, stream, handler, {}}));
    static const pw_stream_events events = [] {
      pw_stream_events e{};
      e.version = PW_VERSION_STREAM_EVENTS;
      e.process = [](void* data) {
        auto* b = static_cast<Binding*>(data);
        (b->graph->*b->handler)(b->stream);
      };
      return e;
    }();
    pw_stream_add_listener(stream, &binding->listener, &events, binding.get());
    std::uint8_t buffer[512];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
    const spa_pod* params[1] = {brontide::linux::pipewire::stereoFloatFormat(builder, kRate)};
    pw_stream_connect(stream, direction, PW_ID_ANY,
                      pw_stream_flags(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS), params, 1);
    streams_.push_back(stream);
    pw_thread_loop_unlock(loop_);
  }

  void produce(pw_stream* stream) {
    pw_buffer* b = pw_stream_dequeue_buffer(stream);
    if (!b) return;
    spa_data& d = b->buffer->datas[0];
    auto* out = static_cast<float*>(d.data);
    std::uint32_t frames = d.maxsize / (2 * sizeof(float));
    if (b->requested && b->requested < frames) frames = std::uint32_t(b->requested);
    const auto now = Clock::now();
    const auto period = std::uint64_t(kPeriodSeconds * kRate), burst = std::uint64_t(kBurstSeconds * kRate);
    for (std::uint32_t i = 0; i < frames; ++i, ++position_) {
      const auto inPeriod = position_ % period;
      // Starts a second in, so the graph is settled before the first burst.
      const bool on = position_ >= kRate && inPeriod < burst;
      if (on && inPeriod == 0) times_.add(times_.entered, seconds(now) + double(i) / kRate);
      const float s = on ? 0.5f * float(std::sin(2 * std::numbers::pi * 440 * double(inPeriod) / kRate)) : 0.0f;
      out[2 * i] = out[2 * i + 1] = s;
    }
    d.chunk->offset = 0;
    d.chunk->stride = 2 * sizeof(float);
    d.chunk->size = frames * 2 * sizeof(float);
    pw_stream_queue_buffer(stream, b);
  }

  void hearPlayer(pw_stream* stream) {
    pw_buffer* b = pw_stream_dequeue_buffer(stream);
    if (!b) return;
    const spa_data& d = b->buffer->datas[0];
    const auto now = Clock::now();
    if (d.data && d.chunk) {
      const std::size_t frames = d.chunk->size / (2 * sizeof(float));
      const auto* samples = static_cast<const float*>(SPA_PTROFF(d.data, d.chunk->offset, void));
      // The buffer holds the cycle that just ended: its first sample is one buffer older than now.
      if (auto at = sinkOnsets_.scan(samples, frames, 2))
        times_.add(times_.atSink, seconds(now) - double(frames - *at) / kRate);
    }
    pw_stream_queue_buffer(stream, b);
  }

  void feedFfmpeg(pw_stream* stream) {
    pw_buffer* b = pw_stream_dequeue_buffer(stream);
    if (!b) return;
    const spa_data& d = b->buffer->datas[0];
    const auto now = Clock::now();
    if (d.data && d.chunk) {
      const auto* samples = static_cast<const float*>(SPA_PTROFF(d.data, d.chunk->offset, void));
      const std::size_t frames = d.chunk->size / (2 * sizeof(float));
      // What Brontide's capture stream is handed in the same cycle.
      if (auto at = tapOnsets_.scan(samples, frames, 2)) times_.add(times_.atTap, seconds(now) - double(frames - *at) / kRate);
      if (ffmpegInput_ >= 0) {
        const ssize_t n = ::write(ffmpegInput_, samples, d.chunk->size);
        if (n > 0) fed_ += std::uint64_t(n);
      }
    }
    pw_stream_queue_buffer(stream, b);
  }

  Times& times_;
  int ffmpegInput_;
  pw_thread_loop* loop_ = nullptr;
  pw_context* context_ = nullptr;
  pw_core* core_ = nullptr;
  std::vector<std::unique_ptr<Binding>> bindings_;
  std::vector<pw_stream*> streams_;
  std::uint64_t position_ = 0;
  OnsetDetector sinkOnsets_{kRate};
  OnsetDetector tapOnsets_{kRate};
  std::atomic<std::uint64_t> fed_{0};
};


std::string statusField(pid_t pid, const std::string& key) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(in, line);)
    if (line.starts_with(key + ":")) {
      auto value = line.substr(key.size() + 1);
      return value.erase(0, value.find_first_not_of(" \t"));
    }
  return "?";
}

// Latency of each entered onset to the first later arrival, in ms; unmatched onsets are skipped.
std::vector<double> latencies(const std::vector<double>& entered, const std::vector<double>& arrived) {
  std::vector<double> result;
  for (std::size_t i = 0; i < entered.size(); ++i) {
    const double next = i + 1 < entered.size() ? entered[i + 1] : entered[i] + kPeriodSeconds;
    for (double a : arrived)
      if (a >= entered[i] && a < next) {
        result.push_back((a - entered[i]) * 1000);
        break;
      }
  }
  return result;
}

void printLatency(const char* what, std::vector<double> ms) {
  if (ms.empty()) {
    std::printf("%-44s no bursts arrived\n", what);
    return;
  }
  std::ranges::sort(ms);
  auto at = [&](double q) { return ms[std::min(ms.size() - 1, std::size_t(q * double(ms.size())))]; };
  std::printf("%-44s n=%zu  min %.0f  median %.0f  p90 %.0f  max %.0f ms\n", what, ms.size(), ms.front(), at(0.5),
              at(0.9), ms.back());
}

pid_t spawnFfmpeg(int input) {
  pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(input, STDIN_FILENO);
    ::execlp("ffmpeg", "ffmpeg", "-hide_banner", "-loglevel", "error", "-f", "f32le", "-ar", "48000", "-ac", "2", "-i",
             "-", "-c:a", "aac", "-b:a", "256k", "-f", "adts", "-y", "/dev/null", nullptr);
    ::_exit(127);
  }
  return pid;
}

}  // namespace

int main(int argc, char** argv) {
  ::signal(SIGCHLD, SIG_DFL);
  ::signal(SIGPIPE, SIG_IGN);
  pw_init(nullptr, nullptr);
  brontide::testsupport::AudioSession session(false);
  // An argument forces the graph's quantum (frames), as an application asking for low latency would.
  if (argc > 1) brontide::testsupport::runCommand("pw-metadata -n settings 0 clock.force-quantum " + std::to_string(std::atoi(argv[1])));

  int toFfmpeg[2];
  if (::pipe2(toFfmpeg, O_CLOEXEC) != 0) return 1;
  Times times;
  auto graph = std::make_unique<Graph>(times, toFfmpeg[1]);
  graph->playBursts();

  brontide::e2e::HeadlessBrontide app(BRONTIDE_EXECUTABLE, {"--source", "org.example.bench"});
  if (!app.waitFor([](const std::string& l) { return l.starts_with("detail: Pulso \u00B7"); }, 15s)) {
    std::fprintf(stderr, "brontide did not go live\n");
    return 1;
  }
  graph->record("headless_out", "brontide_tap");
  const pid_t ffmpeg = spawnFfmpeg(toFfmpeg[0]);
  ::close(toFfmpeg[0]);

  // The client: timestamps each ADTS frame as it arrives and finds the onsets in what it decodes.
  std::atomic<bool> done{false};
  std::thread client([&] {
    const auto stream = brontide::e2e::requestStream(app.port());
    brontide::testsupport::AacDecoder decoder;
    OnsetDetector onsets(kRate);
    bool header = false;
    std::string head;
    while (!done) {
      auto bytes = stream->readWithin(200ms);
      const auto now = Clock::now();
      if (!header) {
        head += bytes;
        const auto end = head.find("\r\n\r\n");
        if (end == std::string::npos) continue;
        header = true;
        bytes = head.substr(end + 4);
      }
      const auto samples = decoder.decodeAll(bytes);
      if (onsets.scan(samples.data(), samples.size(), 1)) times.add(times.atSocket, seconds(now));
    }
  });

  const auto cpuStart = cpuSeconds(app.pid());
  const auto threadsStart = cpuSecondsByThread(app.pid());
  const auto ffmpegStart = cpuSeconds(ffmpeg);
  const auto wallStart = Clock::now();
  std::this_thread::sleep_for(std::chrono::duration<double>(kBursts * kPeriodSeconds));
  const double wall = std::chrono::duration<double>(Clock::now() - wallStart).count();
  const double cpu = cpuSeconds(app.pid()) - cpuStart;
  auto threads = cpuSecondsByThread(app.pid());
  for (auto& [name, seconds] : threads)
    if (threadsStart.contains(name)) seconds -= threadsStart.at(name);
  const double ffmpegCpu = cpuSeconds(ffmpeg) - ffmpegStart;
  const auto rss = statusField(app.pid(), "VmRSS"), hwm = statusField(app.pid(), "VmHWM");
  const auto ffmpegRss = statusField(ffmpeg, "VmRSS");
  std::this_thread::sleep_for(2s);  // the last burst's sound reaches the sink
  done = true;
  client.join();

  std::lock_guard lock(times.mutex);
  auto quantum = brontide::testsupport::runCommand(
      std::string("pw-metadata -n settings 0 ") + (argc > 1 ? "clock.force-quantum" : "clock.quantum") +
      " 2>/dev/null | grep -o \"value:'[0-9]*'\" | tr -dc 0-9");
  std::printf("pipeline: %d bursts of 440 Hz, one every %.0f s; graph quantum %s frames at %u Hz\n", kBursts,
              kPeriodSeconds, quantum.c_str(), kRate);
  printLatency("latency, tap entry -> Brontide's sink monitor:", latencies(times.entered, times.atTap));
  printLatency("latency, sink monitor -> frame at the client:", latencies(times.atTap, times.atSocket));
  printLatency("latency, tap entry -> frame at the client:", latencies(times.entered, times.atSocket));
  // What no change inside Brontide can take away: the onset waits for the rest of its 1024-frame AAC frame (half a
  // frame on average), and libavcodec gives the packet that decodes to a frame only once it has the two after it.
  std::printf("floor, sink monitor -> frame at the client: min %.0f  median %.0f  max %.0f ms (frame fill + look-ahead)\n",
              2048e3 / kRate, 2560e3 / kRate, 3072e3 / kRate);
  printLatency("latency, tap entry -> sound at player's sink:", latencies(times.entered, times.atSink));
  std::printf("brontide --headless while live: %.1f %% of one core over %.1f s, RSS %s (peak %s)\n",
              100 * cpu / wall, wall, rss.c_str(), hwm.c_str());
  std::printf("ffmpeg, same real-time audio to AAC 256 kbit/s: %.1f %% of one core, RSS %s (%.1f s of audio fed)\n",
              100 * ffmpegCpu / wall, ffmpegRss.c_str(), double(graph->framesFed()) / kRate);
  std::printf("(brontide's figure includes capture, meter, encoder, server and the in-process player's decode and "
              "playback)\n");
  // Where brontide's share goes: the encoder thread does what ffmpeg does; the rest ffmpeg has no counterpart for.
  std::vector<std::pair<double, std::string>> byCost;
  for (const auto& [name, seconds] : threads) byCost.emplace_back(seconds, name);
  std::sort(byCost.rbegin(), byCost.rend());
  std::printf("brontide by thread:");
  for (const auto& [seconds, name] : byCost)
    if (seconds / wall >= 0.0005) std::printf("  %s %.1f %%", name.c_str(), 100 * seconds / wall);
  std::printf("\n");

  graph.reset();  // no more writes into ffmpeg's pipe
  ::close(toFfmpeg[1]);
  int status = 0;
  ::waitpid(ffmpeg, &status, 0);
  app.terminate();
  return 0;
}
