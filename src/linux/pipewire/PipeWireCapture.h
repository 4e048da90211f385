#pragma once

#include <atomic>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "audio_tap/AudioSystem.h"
#include "base/Log.h"
#include "controller/Capture.h"
#include "linux/pipewire/PipeWireAudioSystem.h"

namespace brontide::linux::pipewire {

// The controller's capture port on PipeWire. A connection that has worked once follows its daemon
// through restarts by itself; one that never got through (no daemon yet, or a desktop on PulseAudio)
// is made again at each check until it does. Main thread; needs pw_init() beforehand.
class PipeWireCapture final : public Capture {
 public:
  PipeWireCapture(Log& log, PipeWireAudioSystem::Options options = {});

  [[nodiscard]] std::optional<Error> unavailable() override;
  [[nodiscard]] bool restarted() override;
  [[nodiscard]] std::vector<AudioObjectID> audioProcessObjects(std::string_view bundlePrefix) override;
  [[nodiscard]] std::unique_ptr<CaptureTap> makeTap(std::vector<AudioObjectID> processObjects, bool global) override;

  // The clients of the current connection, for the application list.
  [[nodiscard]] std::vector<AudioClient> audioClients() { return system_->audioClients(); }
  [[nodiscard]] PipeWireAudioSystem& audioSystem() { return *system_; }

 private:
  // Passes lines on, except while a retry connects: every failed attempt would say the same thing.
  class RetryLog final : public Log {
   public:
    explicit RetryLog(Log& log) : log_(log) {}
    void notice(const std::string& line) override {
      if (!quiet.load(std::memory_order_relaxed)) log_.notice(line);
    }
    std::atomic<bool> quiet{false};

   private:
    Log& log_;
  };

  Log& log_;
  RetryLog retryLog_;
  PipeWireAudioSystem::Options options_;
  std::unique_ptr<PipeWireAudioSystem> system_;
  // Once true, system_ is never replaced: taps refer to it.
  bool everConnected_ = false;
  // The adapter's connection count at the last check.
  std::uint64_t connections_ = 0;
};

}  // namespace brontide::linux::pipewire
