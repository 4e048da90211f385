#pragma once

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <map>
#include <mutex>
#include <numbers>
#include <optional>
#include <span>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "support/Eventually.h"

extern char** environ;

// Helpers for tests against a real, private PipeWire session (scripts/audio-session/session).
// Needs BRONTIDE_SOURCE_DIR defined to the source tree.
namespace brontide::testsupport {

// Runs a command to completion and returns its standard output; empty on failure.
inline std::string runCommand(const std::string& command, int* status = nullptr) {
  std::string output;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return output;
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
  const int rc = ::pclose(pipe);
  if (status) *status = rc;
  return output;
}

// A child process started without a shell; sent SIGTERM (by its own pid) and reaped on destruction.
class ChildProcess {
 public:
  // `environment` entries override or add to this process's environment.
  explicit ChildProcess(const std::vector<std::string>& argv, bool captureStdout = false,
                        const std::map<std::string, std::string>& environment = {}) {
    std::vector<char*> args;
    for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
      if (const std::string entry(*e); !environment.contains(entry.substr(0, entry.find('=')))) env.push_back(entry);
    for (const auto& [key, value] : environment) env.push_back(key + "=" + value);
    std::vector<char*> envp;
    for (auto& entry : env) envp.push_back(entry.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    int fds[2] = {-1, -1};
    if (captureStdout && ::pipe2(fds, O_CLOEXEC) == 0) {
      posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
      posix_spawn_file_actions_addclose(&actions, fds[0]);
    }
    if (::posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), envp.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    if (fds[1] >= 0) ::close(fds[1]);
    stdout_ = fds[0];
  }
  ~ChildProcess() {
    stop(SIGTERM);
    if (stdout_ >= 0) ::close(stdout_);
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  [[nodiscard]] pid_t pid() const { return pid_; }
  [[nodiscard]] int stdoutFd() const { return stdout_; }
  void signal(int sig) {
    if (pid_ > 0) ::kill(pid_, sig);
  }
  // Sends `sig` and reaps the process (SIGKILL after 2 s).
  void stop(int sig) {
    if (!terminate(sig, std::chrono::seconds(2)) && pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
      pid_ = -1;
    }
  }
  // Sends `sig` (0: none) and waits up to `wait` for the exit status: the exit code, or 128 + the signal that
  // ended it.
  std::optional<int> terminate(int sig = SIGTERM, std::chrono::milliseconds wait = std::chrono::seconds(10)) {
    if (pid_ <= 0) return std::nullopt;
    ::kill(pid_, sig);
    const auto deadline = std::chrono::steady_clock::now() + wait;
    int status = 0;
    while (::waitpid(pid_, &status, WNOHANG) != pid_) {
      if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  // One line of the child's standard output, waiting up to `wait` for it (a guard against hangs).
  std::optional<std::string> readLine(std::chrono::milliseconds wait = std::chrono::seconds(20)) {
    const auto deadline = std::chrono::steady_clock::now() + wait;
    std::size_t end;
    while ((end = pending_.find('\n')) == std::string::npos) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      pollfd ready{stdout_, POLLIN, 0};
      char buffer[4096];
      ssize_t got = 0;
      if (stdout_ < 0 || left.count() <= 0 || ::poll(&ready, 1, int(left.count())) <= 0 ||
          (got = ::read(stdout_, buffer, sizeof buffer)) <= 0)
        return std::nullopt;
      pending_.append(buffer, std::size_t(got));
    }
    auto line = pending_.substr(0, end);
    pending_.erase(0, end + 1);
    return line;
  }

 private:
  pid_t pid_ = -1;
  int stdout_ = -1;
  std::string pending_;  // read but not yet a whole line
};

// A private PipeWire session (D-Bus, pipewire, wireplumber, optionally pipewire-pulse) for this process:
// starting it points XDG_RUNTIME_DIR and friends of this process (and its children) at it.
class AudioSession {
 public:
  explicit AudioSession(bool pulse = true) {
    dir_ = runCommand(script() + " start --owner " + std::to_string(::getpid()) + (pulse ? " --pulse" : ""));
    while (dir_.ends_with('\n') || dir_.ends_with(' ')) dir_.pop_back();
    if (dir_.empty() || ::access((dir_ + "/run/pipewire-0").c_str(), F_OK) != 0)
      throw std::runtime_error("the private audio session did not start (scripts/audio-session/session start)");
    ::setenv("XDG_RUNTIME_DIR", (dir_ + "/run").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (dir_ + "/config").c_str(), 1);
    ::setenv("XDG_STATE_HOME", (dir_ + "/state").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (dir_ + "/data").c_str(), 1);
    ::setenv("HOME", (dir_ + "/home").c_str(), 1);
    ::setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + dir_ + "/run/bus").c_str(), 1);
    ::unsetenv("PIPEWIRE_REMOTE");
    ::unsetenv("PIPEWIRE_RUNTIME_DIR");
    ::unsetenv("PULSE_SERVER");
  }
  ~AudioSession() {
    if (!dir_.empty()) runCommand(script() + " stop " + dir_);
  }
  AudioSession(const AudioSession&) = delete;
  AudioSession& operator=(const AudioSession&) = delete;

  [[nodiscard]] const std::string& dir() const { return dir_; }
  // Stops every process of the session and starts them again in the same folder.
  bool restart() { return run("restart"); }
  // The session bus goes away and another starts at the same address.
  bool restartBus() { return run("restart-bus"); }
  void stopWirePlumber() { run("stop-wireplumber"); }
  // Returns once WirePlumber has published the default sink again.
  bool startWirePlumber() { return run("start-wireplumber"); }

  // Adds a null sink that stays until the session ends.
  bool addNullSink(const std::string& nodeName) {
    runCommand("pw-cli create-node adapter '{ factory.name=support.null-audio-sink node.name=" + nodeName +
               " node.description=" + nodeName +
               " media.class=Audio/Sink object.linger=true audio.position=[FL FR] priority.session=0 }' >/dev/null 2>&1");
    return nodeExists(nodeName);
  }
  static bool nodeExists(const std::string& nodeName) { return nodeProperty(nodeName, "node.name") == nodeName; }
  // "running" while the node plays; "idle", "suspended" or "error" otherwise; empty when absent.
  static std::string nodeState(const std::string& nodeName) { return nodeInfo(nodeName, "state: \"").value_or(""); }
  // One property of the node; nullopt when the node or key is absent.
  static std::optional<std::string> nodeProperty(const std::string& nodeName, const std::string& key) {
    return nodeInfo(nodeName, key + " = \"");
  }

 private:
  static std::string script() { return std::string(BRONTIDE_SOURCE_DIR) + "/scripts/audio-session/session"; }
  bool run(const std::string& verb) {
    int status = 0;
    runCommand(script() + " " + verb + " " + dir_, &status);
    return status == 0;
  }
  // The quoted value after `marker` from `pw-cli info`, which prints `*\tstate: "running"` and each property
  // as `*\t\tkey = "value"`.
  static std::optional<std::string> nodeInfo(const std::string& nodeName, const std::string& marker) {
    std::istringstream lines(runCommand("pw-cli info '" + nodeName + "' 2>/dev/null"));
    for (std::string line; std::getline(lines, line);) {
      const auto at = line.find(marker);
      if (at == std::string::npos || line.find_first_not_of("*\t ") != at) continue;
      const auto value = line.substr(at + marker.size());
      return value.ends_with('"') ? value.substr(0, value.size() - 1) : value;
    }
    return std::nullopt;
  }
  std::string dir_;
};

// The default sink that a private session's WirePlumber owns.
inline constexpr const char* kDefaultSink = "headless_out";

// Writes a WAV of a sine tone at amplitude 0.5 (mono, 16-bit, 48 kHz).
inline std::string writeToneWav(const std::string& path, double frequency, double seconds) {
  runCommand("ffmpeg -hide_banner -loglevel error -y -f lavfi -i 'aevalsrc=0.5*sin(2*PI*" + std::to_string(frequency) +
             "*t):s=48000:d=" + std::to_string(seconds) + "' -c:a pcm_s16le '" + path + "'");
  return path;
}

// Amplitude of one frequency in mono samples (Goertzel); a full-scale sine gives 1.
inline double toneAmplitude(std::span<const float> samples, double frequency, double rate = 48000) {
  if (samples.empty()) return 0;
  const double w = 2 * std::numbers::pi * frequency / rate, coeff = 2 * std::cos(w);
  double s1 = 0, s2 = 0;
  for (float x : samples) {
    const double s0 = x + coeff * s1 - s2;
    s2 = s1;
    s1 = s0;
  }
  const double power = s1 * s1 + s2 * s2 - coeff * s1 * s2;
  return 2 * std::sqrt(std::max(power, 0.0)) / double(samples.size());
}

// The tone's level in most of `samples`: the median over 50 ms blocks, so that a moment of silence (a graph
// that reconfigures, a starved process on a busy machine) does not hide a tone that plays.
inline double medianToneAmplitude(std::span<const float> samples, double frequency, double rate = 48000) {
  const auto block = std::size_t(rate / 20);
  std::vector<double> levels;
  for (std::size_t at = 0; at + block <= samples.size(); at += block)
    levels.push_back(toneAmplitude(samples.subspan(at, block), frequency, rate));
  if (levels.empty()) return toneAmplitude(samples, frequency, rate);
  std::ranges::nth_element(levels, levels.begin() + long(levels.size() / 2));
  return levels[levels.size() / 2];
}

// Records the left channel of a sink's monitor (pw-record, 48 kHz) on its own thread, from construction on.
class MonitorRecording {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr int kRate = 48000;

  explicit MonitorRecording(const std::string& sinkName)
      : child_({"pw-record", "--target", sinkName, "-P", "{ stream.capture.sink = true }", "--rate", "48000",
                "--channels", "2", "--format", "s16", "--latency", "10ms", "-"},
               true),
        reader_([this] { read(); }) {
    // pw-record takes a moment to be linked: a recording starts once it hears, so a window measured after this
    // covers what it claims (bounded: a sink that never delivers only makes an empty recording).
    const auto deadline = Clock::now() + std::chrono::seconds(2);
    while (last(0.001).empty() && Clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ~MonitorRecording() { finish(); }
  MonitorRecording(const MonitorRecording&) = delete;
  MonitorRecording& operator=(const MonitorRecording&) = delete;

  // Stops the recorder and returns what it heard, without its first 50 ms (the stream's start-up).
  std::vector<float> finish() {
    child_.stop(SIGTERM);  // ends the pipe, and so the reader
    if (reader_.joinable()) reader_.join();
    return {samples_.begin() + long(std::min<std::size_t>(samples_.size(), kRate / 20)), samples_.end()};
  }
  // The last `seconds` heard; empty until that much has been.
  [[nodiscard]] std::vector<float> last(double seconds) const {
    const auto count = std::size_t(seconds * kRate);
    std::lock_guard lock(mutex_);
    if (samples_.size() < count) return {};
    return {samples_.end() - long(count), samples_.end()};
  }
  // Whether the last 200 ms carry a `frequency` tone above -34 dBFS, or none of it above -60 dBFS.
  [[nodiscard]] bool hearsTone(double frequency = 440) const { return toneAmplitude(last(0.2), frequency) > 0.02; }
  [[nodiscard]] bool hearsSilence(double frequency = 440) const {
    const auto window = last(0.2);
    return !window.empty() && toneAmplitude(window, frequency) < 0.001;
  }
  // When the first sample louder than `threshold` at or after `after` was captured (estimated from the arrival
  // of the block that held it).
  [[nodiscard]] std::optional<Clock::time_point> onsetAfter(Clock::time_point after, double threshold) const {
    std::lock_guard lock(mutex_);
    std::size_t start = 0;
    for (const auto& [end, arrived] : blocks_) {
      for (std::size_t i = start; arrived >= after && i < end; ++i)
        if (std::abs(samples_[i]) >= threshold)  // the block arrived once its last sample was captured
          return arrived - std::chrono::nanoseconds(1'000'000'000LL * static_cast<long long>(end - i) / kRate);
      start = end;
    }
    return std::nullopt;
  }

 private:
  void read() {
    pthread_setname_np(pthread_self(), "rig.record");  // rig.* threads are left out of the player's CPU figures
    std::vector<std::int16_t> buffer(4096);
    std::size_t carry = 0;  // bytes of an incomplete stereo frame kept at the front
    auto* bytes = reinterpret_cast<char*>(buffer.data());
    for (ssize_t got; (got = ::read(child_.stdoutFd(), bytes + carry, buffer.size() * 2 - carry)) > 0;) {
      const auto now = Clock::now();
      const std::size_t available = carry + std::size_t(got), frames = available / 4;
      {
        std::lock_guard lock(mutex_);
        for (std::size_t i = 0; i < frames; ++i) samples_.push_back(buffer[i * 2] / 32768.f);
        blocks_.push_back({samples_.size(), now});
      }
      carry = available - frames * 4;
      std::copy(bytes + frames * 4, bytes + available, bytes);
    }
  }

  struct Block {
    std::size_t end;  // sample count after this block
    Clock::time_point arrived;
  };
  ChildProcess child_;
  mutable std::mutex mutex_;
  std::vector<float> samples_;
  std::vector<Block> blocks_;
  std::thread reader_;
};

// The level of `frequency` on a sink over the next `seconds`.
inline double sinkTone(double frequency, double seconds = 0.5, const std::string& sink = kDefaultSink) {
  MonitorRecording recording(sink);
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  return medianToneAmplitude(recording.finish(), frequency);
}

}  // namespace brontide::testsupport
