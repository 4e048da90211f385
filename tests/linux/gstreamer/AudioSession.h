#pragma once

#include <optional>
#include <string>

namespace brontide::rig {

// A private PipeWire session (scripts/audio-session/session) whose environment this process adopts,
// so every PipeWire client it starts, and every child, talks to it. Stopped on destruction.
class AudioSession {
 public:
  AudioSession();
  ~AudioSession();
  AudioSession(const AudioSession&) = delete;
  AudioSession& operator=(const AudioSession&) = delete;

  [[nodiscard]] bool running() const { return !dir_.empty(); }
  [[nodiscard]] const std::string& error() const { return error_; }

  // Adds a null sink that stays until the session ends.
  [[nodiscard]] bool addNullSink(const std::string& nodeName);
  // One property of the node named `nodeName` (pw-cli info); nullopt when the node or key is absent.
  [[nodiscard]] std::optional<std::string> nodeProperty(const std::string& nodeName, const std::string& key) const;
  [[nodiscard]] bool nodeExists(const std::string& nodeName) const;
  // "running" while the node plays; "idle", "suspended" or "error" otherwise; empty when absent.
  [[nodiscard]] std::string nodeState(const std::string& nodeName) const;

 private:
  std::string script_;
  std::string dir_;
  std::string error_;
};

// The default sink that the session's WirePlumber owns.
inline constexpr const char* kDefaultSink = "headless_out";

}  // namespace brontide::rig
