#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "base/Log.h"
#include "linux/pipewire/Graph.h"
#include "linux/pipewire/StreamMover.h"

namespace brontide::linux::pipewire {

// The private virtual sink the tapped clients' output streams are moved into, and the moves themselves: every
// output stream of a tapped client (also one opened later) is pointed at the sink, checked to have gone there,
// and given back when no tap wants it any more. The sink outlives its last tap by a grace period, so a tap that
// replaces another takes it over without a blip. Loop thread ("brontide.pipewire") or its lock.
class PrivateSink final : private StreamMover::Backend {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;

  PrivateSink(PwConnection& connection, Graph& graph, Log& log, std::string name, std::string description);
  ~PrivateSink() override;
  PrivateSink(const PrivateSink&) = delete;
  PrivateSink& operator=(const PrivateSink&) = delete;

  // Called once the sink has its ports and the session manager's metadata is there: streams may go to it.
  std::function<void()> onReady;

  [[nodiscard]] const std::string& name() const { return name_; }
  [[nodiscard]] bool exists() const { return sink_ != nullptr; }
  [[nodiscard]] bool ready() const { return sink_ && sink_->announced; }
  [[nodiscard]] std::uint32_t rate() const { return sink_ ? sink_->rate : 0; }
  [[nodiscard]] int error() const { return sink_ ? sink_->error : 0; }
  // The sink's node id once the server has made it.
  [[nodiscard]] std::optional<std::uint32_t> node() const;
  [[nodiscard]] const StreamMover& mover() const { return mover_; }
  [[nodiscard]] bool hasTaps() const { return !taps_.empty(); }
  [[nodiscard]] std::vector<std::uint64_t> taps() const;

  // Diverts these clients' (serials) streams for `tap`, making the sink at `rate` first if there is none.
  // Returns 0 or the negative errno of the failed creation.
  int add(std::uint64_t tap, std::set<std::uint32_t> clients, std::uint32_t rate);
  // The tap is gone: its streams go back and the sink goes once their grace has passed unwanted.
  void remove(std::uint64_t tap, TimePoint now);
  // A tap that never started: forgotten at once, with the sink if no other tap holds it.
  void discard(std::uint64_t tap);
  [[nodiscard]] std::vector<std::string> unmovableApplications(std::uint64_t tap) const;

  // Graph events.
  void nodeChanged(const Node& node);
  void clientChanged();
  void portAdded(const Port& port);
  void nodeRemoved(std::uint32_t node) { mover_.forget(node); }
  // The session manager's metadata is gone and its keys with it: nothing to restore. While taps wait, the
  // sink is announced again once the session manager is back.
  void metadataGone(bool tapsWaiting);
  // The session manager is back: announce the sink again, or make it anew for the taps that still want it.
  void rebuild(std::uint32_t rate);
  // A core error on object `id`: recorded when it is the sink's.
  void coreError(std::uint32_t id, int res);
  // The daemon has gone: every proxy goes before the core, and nothing is written.
  void drop();

  [[nodiscard]] std::optional<TimePoint> nextDeadline(TimePoint now) const;
  // Runs what is due; returns the streams given back meanwhile.
  std::vector<std::uint32_t> onTimer(TimePoint now);

  // Shutdown: gives every stream back while the sink lives, waits up to `timeout` for the session manager to
  // relink them elsewhere, then destroys the sink.
  void close(std::chrono::milliseconds timeout);
  // The same without waiting: gives every stream back now; closeStep(), called again at each nextDeadline(),
  // destroys the sink once they are relinked elsewhere, or at `by`, and is then true.
  void beginClose(TimePoint by);
  [[nodiscard]] bool closeStep(TimePoint now);

 private:
  struct Sink {
    std::uint32_t rate = 0;
    std::uint32_t id = SPA_ID_INVALID;
    int error = 0;
    bool announced = false;
    std::optional<TimePoint> idleSince;
    PwProxy proxy;
    HookGuard listener;
  };
  struct Tap {
    std::set<std::uint32_t> clients;
    std::vector<std::string> unmovable;
  };
  struct MoveCheck {
    TimePoint at;
    std::uint64_t tap;
    std::uint32_t node;
  };

  // StreamMover::Backend.
  std::optional<MetadataValue> read(std::uint32_t node, std::string_view key) override;
  void write(std::uint32_t node, std::string_view key, const std::optional<MetadataValue>& value) override;

  int create(std::uint32_t rate);
  void destroy();
  void checkReady();
  void clearLeftovers();
  void moveStreams(std::uint64_t tap);
  void moveStream(std::uint64_t tap, const Node& node);
  void checkMoved(std::uint64_t tap, std::uint32_t node);

  PwConnection& connection_;
  Graph& graph_;
  Log& log_;
  std::string name_;  // stable: a per-run name makes the session manager's state grow
  std::string description_;
  StreamMover mover_{*this};
  std::map<std::uint64_t, Tap> taps_;
  std::vector<MoveCheck> moveChecks_;
  std::unique_ptr<Sink> sink_;
  std::optional<TimePoint> closeBy_;
};

}  // namespace brontide::linux::pipewire
