#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/Log.h"
#include "linux/pipewire/CaptureStreams.h"
#include "linux/pipewire/Graph.h"
#include "linux/pipewire/PrivateSink.h"

namespace brontide::linux::pipewire {

// After a session manager restart, whatever is still unlinked once it has had its turn: the tap links its moved
// streams into the private sink, its capture streams to their sources, and the streams it gives back to the
// default sink itself. Loop thread ("brontide.pipewire") or its lock.
class LinkRepair {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;

  LinkRepair(PwConnection& connection, Graph& graph, Log& log) : connection_(connection), graph_(graph), log_(log) {}

  [[nodiscard]] bool active() const { return active_; }
  // The session manager came back: link by hand from now on.
  void start(TimePoint now);
  // Streams just given back: linked to the default sink if the session manager leaves them unlinked.
  void givenBack(const std::vector<std::uint32_t>& nodes, TimePoint now);
  // The daemon has gone: forget everything (the links went with it).
  void reset();

  [[nodiscard]] std::optional<TimePoint> nextDeadline() const { return nextCheck_; }
  // Links what is missing when a check is due; `tapsLeft` keeps checking while a tap runs.
  void onTimer(TimePoint now, const PrivateSink& sink, const CaptureStreams* captures, bool tapsLeft);

 private:
  void check(const PrivateSink& sink, const std::vector<CaptureNode>& captures, bool tapsLeft);
  void link(std::uint32_t output, std::uint32_t input);

  PwConnection& connection_;
  Graph& graph_;
  Log& log_;
  bool active_ = false;
  std::optional<TimePoint> nextCheck_;
  std::vector<std::uint32_t> givenBack_;
  std::vector<PwProxy> links_;
};

}  // namespace brontide::linux::pipewire
