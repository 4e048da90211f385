#pragma once

#include <chrono>
#include <cstdint>
#include <expected>
#include <functional>
#include <optional>
#include <set>
#include <string>

#include "linux/pipewire/Handles.h"
#include "linux/pipewire/PwConnection.h"
#include "speaker_browser/AirPlayOutput.h"

namespace brontide::linux::pipewire {

// One receiver's sink in this process: a reachability probe, then libpipewire-module-raop-sink, its node's volume,
// the liveness of its RTSP session and its loopback feed from the fan-out sink. Loop thread ("brontide.airplay").
class RaopSink {
 public:
  using Id = AirPlayOutput::SinkId;
  enum class Session { unchanged, started, lost };

  // A closed sink's module is unloaded once the server has removed its node, or after this long without that.
  static constexpr auto kRetireLimit = std::chrono::seconds(2);

  // `changed` runs on the loop thread whenever the owner has something to look at: a probe result, the module
  // gone, a feed gone.
  RaopSink(PwConnection& connection, Id id, AirPlayReceiver receiver, double volume, std::function<void()> changed);
  ~RaopSink();
  RaopSink(const RaopSink&) = delete;
  RaopSink& operator=(const RaopSink&) = delete;

  [[nodiscard]] Id id() const { return id_; }
  [[nodiscard]] const AirPlayReceiver& receiver() const { return receiver_; }
  [[nodiscard]] std::string nodeName() const;

  void startProbe();
  // The probe's outcome once it has one (empty: reachable), which ends the probe; nullopt until then.
  [[nodiscard]] std::optional<std::string> takeProbeResult();

  [[nodiscard]] std::expected<void, std::string> load();
  [[nodiscard]] bool loaded() const { return static_cast<bool>(module_); }
  // The module has unloaded, by itself or through unload().
  [[nodiscard]] bool gone() const { return moduleGone_; }
  void unload();

  [[nodiscard]] bool hasNode() const { return node_ != nullptr; }
  void bindNode(pw_registry* registry, std::uint32_t id);
  // The server removed the node with this id; other ids are not this sink's.
  void forgetNode(std::uint32_t id);
  void setVolume(double volume);
  // How long after the sink takes a sample its receiver plays it: as 0.3's sink reports it on its input port
  // (nullopt until it has); 1.x's is the raop.latency.ms it was given, since the process latency it reports is
  // twice that while its receivers play that long after (bench/speakers).
  [[nodiscard]] std::optional<double> latencySeconds() const { return latency_; }
  // An input port of node `node`: this sink's own is asked for its latency.
  void inputPort(pw_registry* registry, std::uint32_t id, std::uint32_t node);

  // Loaded and its node running.
  [[nodiscard]] bool playing() const { return loaded() && running_; }
  // Called about once a second while playing(), with establishedPeers().
  [[nodiscard]] Session checkSession(const std::set<std::string>& peers);
  // Established TCP connections of this process, as remote "address:port".
  [[nodiscard]] static std::set<std::string> establishedPeers();

  // Loaded, its node in the graph, and no feed yet.
  [[nodiscard]] bool needsFeed() const { return loaded() && !loopback_ && nodeId_ != SPA_ID_INVALID; }
  [[nodiscard]] std::expected<void, std::string> loadFeed();
  void unloadFeed();

  // Ends the probe, the feed and the node's proxy; the module stays.
  void stop();
  // Asks the server to remove the node, if it is in the graph; the module is then overdue() after kRetireLimit.
  [[nodiscard]] bool retire(pw_registry* registry);
  [[nodiscard]] bool overdue(std::chrono::steady_clock::time_point now) const { return now >= retireDeadline_; }

 private:
  static void onProbeIo(void* sink, int fd, std::uint32_t mask);
  static void onProbeTimeout(void* sink, std::uint64_t expirations);
  static void onNodeInfo(void* sink, const pw_node_info* info);
  static void onPortParam(void* sink, int seq, std::uint32_t id, std::uint32_t index, std::uint32_t next,
                          const spa_pod* param);
  void endProbe();
  void applyVolume();

  PwConnection& connection_;
  Id id_;
  AirPlayReceiver receiver_;
  double volume_;
  std::function<void()> changed_;
  // Reachability probe before the module is loaded.
  Fd probeFd_;
  LoopSource probeIo_;
  LoopSource probeTimer_;
  std::optional<std::string> probeResult_;  // empty string: reachable
  // The sink itself.
  LoadedModule module_;
  bool moduleGone_ = false;
  std::uint32_t nodeId_ = SPA_ID_INVALID;
  PwProxy node_;
  HookGuard nodeHook_;
  // Its feed from the fan-out sink, loaded once both nodes are in the graph.
  LoadedModule loopback_;
  bool running_ = false;
  PwProxy port_;
  HookGuard portHook_;
  std::optional<double> latency_;
  bool streamingSaid_ = false;
  static constexpr int kVolumeResends = 2;
  int volumeResends_ = 0;
  int missedChecks_ = 0;
  std::chrono::steady_clock::time_point retireDeadline_;
};

}  // namespace brontide::linux::pipewire
