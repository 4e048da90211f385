#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <numbers>
#include <optional>
#include <span>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

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
  [[nodiscard]] bool running() {
    if (pid_ <= 0) return false;
    if (::waitpid(pid_, nullptr, WNOHANG) == pid_) pid_ = -1;
    return pid_ > 0;
  }
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
  // Sends `sig` and waits up to `wait` for the exit status: the exit code, or 128 + the signal that ended it.
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
  // Reads one line of the child's standard output (blocking; the child must write it).
  std::optional<std::string> readLine() {
    std::string line;
    char c;
    while (stdout_ >= 0 && ::read(stdout_, &c, 1) == 1) {
      if (c == '\n') return line;
      line += c;
    }
    return std::nullopt;
  }

 private:
  pid_t pid_ = -1;
  int stdout_ = -1;
};

// A private PipeWire session (D-Bus, pipewire, wireplumber, optionally pipewire-pulse) for this process:
// starting it points XDG_RUNTIME_DIR and friends of this process (and its children) at it.
class AudioSession {
 public:
  explicit AudioSession(bool pulse = true) {
    dir_ = trimmed(runCommand(script() + " start --owner " + std::to_string(::getpid()) + (pulse ? " --pulse" : "")));
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
  bool restart() {
    int status = 0;
    runCommand(script() + " restart " + dir_, &status);
    return status == 0;
  }
  void stopWirePlumber() { runCommand(script() + " stop-wireplumber " + dir_); }
  // Returns once WirePlumber has published the default sink again.
  bool startWirePlumber() {
    int status = 0;
    runCommand(script() + " start-wireplumber " + dir_, &status);
    return status == 0;
  }

  // Adds a null sink that stays until the session ends.
  bool addNullSink(const std::string& nodeName) {
    runCommand("pw-cli create-node adapter '{ factory.name=support.null-audio-sink node.name=" + nodeName +
               " node.description=" + nodeName +
               " media.class=Audio/Sink object.linger=true audio.position=[FL FR] priority.session=0 }' >/dev/null 2>&1");
    return nodeExists(nodeName);
  }
  static bool nodeExists(const std::string& nodeName) {
    return nodeInfo(nodeName).find("node.name = \"" + nodeName + "\"") != std::string::npos;
  }
  // "running" while the node plays; "idle", "suspended" or "error" otherwise; empty when absent.
  static std::string nodeState(const std::string& nodeName) {
    // pw-cli prints it as `*\tstate: "running"`.
    const auto info = nodeInfo(nodeName);
    const std::string marker = "state: \"";
    const auto at = info.find(marker);
    if (at == std::string::npos) return {};
    const auto end = info.find('"', at + marker.size());
    return info.substr(at + marker.size(), end - at - marker.size());
  }
  // One property of the node; nullopt when the node or key is absent.
  static std::optional<std::string> nodeProperty(const std::string& nodeName, const std::string& key) {
    // pw-cli prints each property as `*\t\tkey = "value"`.
    std::istringstream lines(nodeInfo(nodeName));
    std::string line;
    const std::string marker = key + " = \"";
    while (std::getline(lines, line)) {
      const auto at = line.find(marker);
      if (at == std::string::npos || line.find_first_not_of("*\t ") != at) continue;
      const auto value = line.substr(at + marker.size());
      return value.ends_with('"') ? value.substr(0, value.size() - 1) : value;
    }
    return std::nullopt;
  }

  static std::string script() { return std::string(BRONTIDE_SOURCE_DIR) + "/scripts/audio-session/session"; }

 private:
  static std::string trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
  }
  static std::string nodeInfo(const std::string& nodeName) {
    return runCommand("pw-cli info '" + nodeName + "' 2>/dev/null");
  }
  std::string dir_;
};

// The default sink that a private session's WirePlumber owns.
inline constexpr const char* kDefaultSink = "headless_out";

// Writes a mono 16-bit WAV of a sine tone at `amplitude` (0..1).
inline std::string writeToneWav(const std::string& path, double frequency, double seconds, double amplitude = 0.5,
                                std::uint32_t rate = 48000) {
  const std::uint32_t frames = std::uint32_t(seconds * rate);
  std::ofstream out(path, std::ios::binary);
  auto u32 = [&](std::uint32_t v) { out.write(reinterpret_cast<const char*>(&v), 4); };
  auto u16 = [&](std::uint16_t v) { out.write(reinterpret_cast<const char*>(&v), 2); };
  out.write("RIFF", 4);
  u32(36 + frames * 2);
  out.write("WAVEfmt ", 8);
  u32(16);
  u16(1);
  u16(1);
  u32(rate);
  u32(rate * 2);
  u16(2);
  u16(16);
  out.write("data", 4);
  u32(frames * 2);
  std::vector<std::int16_t> samples(frames);
  for (std::uint32_t i = 0; i < frames; ++i)
    samples[i] = std::int16_t(std::lround(amplitude * std::sin(2 * std::numbers::pi * frequency * i / rate) * 32767));
  out.write(reinterpret_cast<const char*>(samples.data()), std::streamsize(samples.size() * 2));
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

// The left channel of interleaved stereo.
inline std::vector<float> leftChannel(std::span<const float> stereo) {
  std::vector<float> left;
  left.reserve(stereo.size() / 2);
  for (std::size_t i = 0; i + 1 < stereo.size(); i += 2) left.push_back(stereo[i]);
  return left;
}

// Records a sink's monitor with pw-record from construction until finish(): mono float at 48 kHz.
class MonitorRecording {
 public:
  MonitorRecording(const std::string& sinkName, const std::string& dir)
      : path_(dir + "/monitor-" + std::to_string(::getpid()) + "-" + std::to_string(++counter()) + ".wav"),
        record_(std::make_unique<ChildProcess>(std::vector<std::string>{
            "pw-record", "--target", sinkName, "-P", "{ stream.capture.sink = true }", "--rate", "48000",
            "--channels", "1", "--format", "f32", path_})) {}

  // Stops the recorder and returns what it wrote, without its first 50 ms (the stream's start-up).
  std::vector<float> finish() {
    record_.reset();  // SIGTERM: pw-record closes the file properly
    std::ifstream in(path_, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ::unlink(path_.c_str());
    auto data = bytes.find("data");
    if (data == std::string::npos || data + 8 > bytes.size()) return {};
    std::vector<float> samples((bytes.size() - data - 8) / sizeof(float));
    if (samples.empty()) return {};
    std::memcpy(samples.data(), bytes.data() + data + 8, samples.size() * sizeof(float));
    const std::size_t skip = std::min<std::size_t>(samples.size(), 2400);
    samples.erase(samples.begin(), samples.begin() + long(skip));
    return samples;
  }

 private:
  static int& counter() {
    static int value = 0;
    return value;
  }
  std::string path_;
  std::unique_ptr<ChildProcess> record_;
};

inline std::vector<float> recordSinkMonitor(const std::string& sinkName, double seconds, const std::string& dir) {
  MonitorRecording recording(sinkName, dir);
  std::this_thread::sleep_for(std::chrono::milliseconds(long(seconds * 1000)));
  return recording.finish();
}

// Polls `condition` every 50 ms until it holds or `timeout` passes (a guard against hangs, not a timing claim).
template <class Condition>
bool eventually(Condition condition, std::chrono::milliseconds timeout = std::chrono::milliseconds(10000)) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (condition()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

}  // namespace brontide::testsupport
