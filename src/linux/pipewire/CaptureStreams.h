#pragma once

#include <cstdint>
#include <expected>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "audio_tap/AudioSystem.h"
#include "base/Log.h"
#include "linux/pipewire/PwConnection.h"

namespace brontide::linux::pipewire {

// One of our capture streams' nodes, and what it captures (a node.name).
struct CaptureNode {
  std::uint32_t node = 0;
  std::string source;
};

// The capture streams of the taps, on a connection of their own whose loop thread is "brontide.tap.io": the IO
// procedures run there, away from the registry mirror's work. Public calls from any thread but that one; never
// with the "brontide.pipewire" lock held, except reconnectAll() and nodes(), which take no loop lock.
class CaptureStreams {
 public:
  // node.name of every capture stream.
  static constexpr const char* kNodeName = "Brontide-Tap";

  explicit CaptureStreams(Log& log);
  ~CaptureStreams();
  CaptureStreams(const CaptureStreams&) = delete;
  CaptureStreams& operator=(const CaptureStreams&) = delete;

  [[nodiscard]] bool connected() const { return connection_.connected(); }
  [[nodiscard]] int lastError() const { return connection_.lastError(); }

  // A stream capturing `source` (a node.name) at `rate`; `followsDefault` retargets it to the default sink when
  // the graph is rebuilt. Returns its id or a negative errno.
  [[nodiscard]] std::expected<std::uint64_t, int> create(const std::string& source, bool followsDefault,
                                                         std::uint32_t rate);
  // Connects the stream and calls `proc` once per cycle. Returns 0 or a negative errno.
  [[nodiscard]] int start(std::uint64_t id, CaptureCallback proc);
  // After it returns no call of the stream's procedure runs or will start.
  void destroy(std::uint64_t id);

  // Connects every started stream again, the default-following ones to `defaultSink` (when not empty).
  // Queued onto "brontide.tap.io", so it may be called from the registry's loop thread.
  void reconnectAll(const std::string& defaultSink);
  // The streams the server has made nodes for, and what each captures.
  [[nodiscard]] std::vector<CaptureNode> nodes() const;

 private:
  struct Stream;
  int connect(Stream& stream);
  void published(Stream& stream);

  Log& log_;
  PwConnection connection_;
  std::uint64_t nextId_ = 0;
  std::map<std::uint64_t, std::unique_ptr<Stream>> streams_;  // guarded by the loop lock
  mutable std::mutex nodesMutex_;  // held only to copy
  std::map<std::uint64_t, CaptureNode> nodes_;
};

}  // namespace brontide::linux::pipewire
