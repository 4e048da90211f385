#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include <spa/utils/ringbuffer.h>

#include "linux/pipewire/PwConnection.h"

namespace brontide::linux::pipewire {

// One playback stream (F32 interleaved, stereo) on a connection of its own, fed through a ring buffer that its
// process callback drains on PipeWire's real-time data thread. The producer only has to keep the ring from
// running dry, never to be on time for a cycle: a player's streaming thread on a busy machine is often late by
// more than one.
class PlaybackStream {
 public:
  static constexpr std::uint32_t kChannels = 2;
  // What the producer keeps queued: its slack, and the latency the ring adds.
  static constexpr double kQueuedSeconds = 0.1;

  struct Options {
    std::string nodeName;
    std::string description;
    std::string applicationId;
    std::string applicationName;
    std::optional<std::string> target;  // a sink's node.name; nullopt: the default output
    std::uint32_t rate = 48000;
    // The stream failed (its daemon went away); once, on its loop thread.
    std::function<void(std::string reason)> lost;
  };

  // Connected and inactive (see setActive). The error is a log reason.
  [[nodiscard]] static std::expected<std::unique_ptr<PlaybackStream>, std::string> create(Options options);
  ~PlaybackStream();
  PlaybackStream(const PlaybackStream&) = delete;
  PlaybackStream& operator=(const PlaybackStream&) = delete;

  // Queues interleaved frames, waiting while kQueuedSeconds are queued. One producer thread at a time. Returns
  // false, with what is left unqueued, once interrupted.
  bool write(std::span<const float> samples);
  // Ends a write() that waits, and every later one. Any thread.
  void interrupt();
  // An inactive stream takes nothing and lets its graph idle; what is queued waits. Any thread but its loop's.
  void setActive(bool active);

 private:
  explicit PlaybackStream(Options options);
  static void onProcess(void* data);
  static void onStateChanged(void* data, pw_stream_state old, pw_stream_state state, const char* error);

  Options options_;
  PwConnection connection_;
  PwStream stream_;
  HookGuard listener_;
  spa_ringbuffer ring_{};
  std::vector<float> storage_;  // a power of two of samples
  std::uint32_t queuedLimit_ = 0;  // in samples
  std::atomic<bool> interrupted_{false};
  std::atomic<std::uint32_t> drained_{0};  // bumped each time a cycle takes from the ring, and by interrupt()
  // Loop thread, or with its lock.
  bool lostSaid_ = false;
  bool ready_ = false;  // the server has the node
  bool active_ = false;
};

}  // namespace brontide::linux::pipewire
