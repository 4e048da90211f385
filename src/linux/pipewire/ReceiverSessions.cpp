#include "linux/pipewire/ReceiverSessions.h"

#include <pthread.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "linux/pipewire/PipeWireAirPlayOutput.h"

namespace brontide::linux::pipewire {

namespace {

constexpr int kReconnectSeconds = 1;
constexpr int kCheckSeconds = 1;
// While shutting down, retiring modules are looked at this often.
constexpr long kShutdownCheckNs = 50'000'000;
// A local branch is loaded again for a receivers' latency that differs by more than this.
constexpr double kDelayTolerance = 0.005;

}  // namespace

ReceiverSessions::ReceiverSessions(Log& log, Events events)
    : log_(log),
      events_(std::move(events)),
      connection_("brontide.airplay", PwConnection::Unstarted{}),
      fanOut_(connection_, [this] { wakeUp(); }, [this] { if (!toReceivers_) destroyFanOut(); }),
      manager_([this] { managerGone(); }, [this] { managerBack(); }) {
  if (!connection_.threadLoop()) {
    notice("cannot create the PipeWire loop: AirPlay output is off");
    return;
  }
  if (!connection_.context()) {
    notice("cannot create the PipeWire context: AirPlay output is off");
    return;
  }
  pw_loop* loop = connection_.loop();
  wake_ = LoopSource(loop, pw_loop_add_event(loop, &ReceiverSessions::onWake, this));
  checkTimer_ = LoopSource(loop, pw_loop_add_timer(loop, &ReceiverSessions::onCheck, this));
  reconnectTimer_ = LoopSource(loop, pw_loop_add_timer(loop, &ReceiverSessions::onReconnect, this));
  armTimer(loop, checkTimer_, kCheckSeconds, true);
  connection_.onError = [this](std::uint32_t id, int res, const std::string& message) { coreError(id, res, message); };
  if (connection_.start() < 0) {
    notice("cannot start the PipeWire loop: AirPlay output is off");
    return;
  }
  running_ = true;
  post([](ReceiverSessions& sessions) {
    // The loop's own name, 16 characters, is one too many for the OS.
    pthread_setname_np(pthread_self(), "brontide.airpl");
    sessions.connect();
  });
}

ReceiverSessions::~ReceiverSessions() {
  if (!running_) return;
  {
    LoopLock lock(connection_.threadLoop());
    // Without a finished shutdown(): the loop thread runs while this one waits; settle() signals each time a
    // module has gone.
    if (!shutDown_) {
      while (!sinks_.empty()) close(sinks_.begin()->first);
      (void)connection_.waitUntil([this] { return retiring_.empty(); }, RaopSink::kRetireLimit);
      dropGraph("closing", false);
    }
  }
  connection_.stop();
}

void ReceiverSessions::post(Command work) {
  {
    std::lock_guard lock(commandsMutex_);
    commands_.push_back(std::move(work));
  }
  wakeUp();
}

void ReceiverSessions::shutdown(std::function<void()> done) {
  if (!running_) {
    done();
    return;
  }
  post([done = std::move(done)](ReceiverSessions& s) mutable {
    s.shuttingDown_ = true;
    s.shutdownDone_ = std::move(done);
    // Retired as when one is unticked, their node removed first. Unloading 1.x's sinks at once quit in 0.1 s
    // instead of 2 s, but a Brontide started right after once sent its receiver nothing. This runs off the main
    // thread either way.
    while (!s.sinks_.empty()) s.close(s.sinks_.begin()->first);
    timespec often{.tv_sec = 0, .tv_nsec = kShutdownCheckNs};
    pw_loop_update_timer(s.connection_.loop(), s.checkTimer_.get(), &often, &often, false);
    s.finishShutdownOnceRetired();
  });
}

void ReceiverSessions::finishShutdownOnceRetired() {
  if (!shutDown_ && retiring_.empty()) finishShutdown();
}

void ReceiverSessions::finishShutdown() {
  dropGraph("closing", false);
  pw_loop_update_timer(connection_.loop(), checkTimer_.get(), nullptr, nullptr, false);
  pw_loop_update_timer(connection_.loop(), reconnectTimer_.get(), nullptr, nullptr, false);
  shutDown_ = true;
  if (auto done = std::exchange(shutdownDone_, nullptr)) done();
}

void ReceiverSessions::wakeUp() { pw_loop_signal_event(connection_.loop(), wake_.get()); }

void ReceiverSessions::onWake(void* self, std::uint64_t) { static_cast<ReceiverSessions*>(self)->settle(); }

// Runs queued commands, then every change callbacks only recorded.
void ReceiverSessions::settle() {
  std::deque<Command> work;
  {
    std::lock_guard lock(commandsMutex_);
    work.swap(commands_);
  }
  // After a shutdown the graph stays dropped: nothing may load again.
  for (auto& w : work)
    if (!shuttingDown_) w(*this);
  if (shutDown_) return;
  if (broken_) {
    if (shuttingDown_) finishShutdown();
    else dropGraph("the sound server went away");
    return;
  }
  if (std::erase_if(retiring_, [](const auto& s) { return s->gone(); }) > 0) connection_.signal();
  if (shuttingDown_) {
    finishShutdownOnceRetired();
    return;
  }
  std::vector<SinkId> ids;
  for (const auto& [id, sink] : sinks_) ids.push_back(id);
  for (const auto id : ids) {
    auto it = sinks_.find(id);
    if (it == sinks_.end()) continue;
    RaopSink& sink = *it->second;
    if (sink.gone()) {
      fail(sink, "the sink closed itself");
    } else if (const auto result = sink.takeProbeResult()) {
      if (result->empty()) {
        loadSink(sink);
      } else {
        fail(sink, *result);
      }
    }
  }
  if (fanOut_.removed()) {
    destroyFanOut();
    if (toReceivers_) loadFanOut();
  }
  if (announcedFanOut_ != fanOut_.generation()) announceFanOut();
  feedReceivers();
}

void ReceiverSessions::connect() {
  if (shuttingDown_) return;
  if (const int res = connection_.reconnect(); res < 0) {
    notice(std::string("cannot reach the PipeWire daemon (") + std::strerror(-res) + "), retrying");
    armTimer(connection_.loop(), reconnectTimer_, kReconnectSeconds);
    return;
  }
  registry_ = listenToRegistry<&ReceiverSessions::onGlobal, &ReceiverSessions::onGlobalRemove>(connection_.core(),
                                                                                             registryHook_, this);
  if (toReceivers_) loadFanOut();
}

void ReceiverSessions::onReconnect(void* self, std::uint64_t) { static_cast<ReceiverSessions*>(self)->connect(); }

void ReceiverSessions::coreError(std::uint32_t id, int res, const std::string& message) {
  if (id == PW_ID_CORE && res == -EPIPE) {
    broken_ = true;
    wakeUp();
    return;
  }
  notice("error on object " + std::to_string(id) + ": " + message + " (" + std::strerror(-res) + ")");
}

// Fails every sink and forgets the graph; with `reconnect`, connects again shortly.
void ReceiverSessions::dropGraph(const std::string& reason, bool reconnect) {
  broken_ = false;
  while (!sinks_.empty()) fail(*sinks_.begin()->second, reason, false);
  for (auto& s : retiring_) s->unload();
  retiring_.clear();
  destroyFanOut();
  nodeNames_.clear();
  inputPorts_.clear();
  manager_.reset();
  registryHook_.remove();
  registry_.reset();
  connection_.disconnect();
  if (reconnect) {
    notice("lost the PipeWire daemon (" + reason + "), reconnecting");
    armTimer(connection_.loop(), reconnectTimer_, kReconnectSeconds);
  }
}

void ReceiverSessions::onGlobal(void* self, std::uint32_t id, std::uint32_t, const char* type, std::uint32_t,
                                const spa_dict* props) {
  static_cast<ReceiverSessions*>(self)->global(id, type, props);
}

void ReceiverSessions::global(std::uint32_t id, const char* type, const spa_dict* props) {
  manager_.global(registry_.get(), id, type, props);
  if (std::strcmp(type, PW_TYPE_INTERFACE_Port) == 0) {
    const char* node = props ? spa_dict_lookup(props, PW_KEY_NODE_ID) : nullptr;
    const char* direction = props ? spa_dict_lookup(props, PW_KEY_PORT_DIRECTION) : nullptr;
    if (!node || !direction || std::strcmp(direction, "in") != 0) return;
    inputPorts_[id] = std::uint32_t(std::strtoul(node, nullptr, 10));
    for (auto& [sinkId, sink] : sinks_) sink->inputPort(registry_.get(), id, inputPorts_[id]);
    return;
  }
  if (std::strcmp(type, PW_TYPE_INTERFACE_Node) != 0) return;
  const char* name = props ? spa_dict_lookup(props, PW_KEY_NODE_NAME) : nullptr;
  if (!name) return;
  nodeNames_[id] = name;
  for (auto& [sinkId, sink] : sinks_)
    if (sink->nodeName() == name && !sink->hasNode()) bindNode(*sink, id);
  wakeUp();  // a feed may now have both ends
}

void ReceiverSessions::onGlobalRemove(void* self, std::uint32_t id) {
  static_cast<ReceiverSessions*>(self)->globalRemove(id);
}

void ReceiverSessions::globalRemove(std::uint32_t id) {
  manager_.globalRemove(id);
  nodeNames_.erase(id);
  inputPorts_.erase(id);
  for (auto& [sinkId, sink] : sinks_) sink->forgetNode(id);
}

void ReceiverSessions::routeToReceivers() {
  toReceivers_ = true;
  playLocally(false);
  loadFanOut();
  announceFanOut();
}

void ReceiverSessions::routeToDefault() {
  toReceivers_ = false;
  playLocally(false);
  fanOut_.linger();
}

void ReceiverSessions::playLocally(bool on) {
  localWanted_ = on;
  if (!on) localBranch_.reset();
  wakeUp();
}

void ReceiverSessions::loadFanOut() {
  if (const auto made = fanOut_.create(); !made) notice(made.error());
}

// Feeds go first: their streams would otherwise be left without a source.
void ReceiverSessions::destroyFanOut() {
  localBranch_.reset();
  for (auto& [id, sink] : sinks_) sink->unloadFeed();
  fanOut_.destroy();
}

// The player is sent to the fan-out sink only once the session manager can find it there: a stream whose
// target is missing is linked to the default output, then moved.
void ReceiverSessions::announceFanOut() {
  if (!toReceivers_ || !fanOut_.inGraph(nodeNames_)) return;
  announcedFanOut_ = fanOut_.generation();
  events_.fanOutReady(announcedFanOut_);
}

// Loads the loopback of every open receiver whose raop node and the fan-out sink are both in the graph; earlier,
// the session manager would link the loopback to the default output instead.
void ReceiverSessions::feedReceivers() {
  if (!fanOut_.inGraph(nodeNames_)) return;
  std::vector<std::pair<SinkId, std::string>> unfed;
  for (auto& [id, sink] : sinks_)
    if (sink->needsFeed())
      if (const auto fed = sink->loadFeed(); !fed) unfed.emplace_back(id, fed.error());
  for (const auto& [id, reason] : unfed) fail(*sinks_.at(id), reason);
  feedLocal();
}

// The local branch waits as long as the receivers do, so that the room and the speakers sound together: the
// longest latency an open raop sink reports on its input port. It has no target, so the session manager links it to the default
// sink and moves it when the default changes; a receiver that comes or goes leaves it alone unless the delay
// itself changes.
void ReceiverSessions::feedLocal() {
  if (!toReceivers_ || !localWanted_) return;
  // Until a sink reports one, and after the last has gone, the delay stays as it was.
  double delay = -1;
  for (const auto& [id, sink] : sinks_)
    if (const auto latency = sink->latencySeconds()) delay = std::max(delay, *latency);
  if (delay < 0) delay = localDelay_;
  if (localBranch_ && std::abs(delay - localDelay_) < kDelayTolerance) return;
  char delayText[32];
  std::snprintf(delayText, sizeof delayText, "%.4f", delay);
  const std::string args =
      std::string("{ node.description = \"Brontide AirPlay to this computer\" audio.channels = 2"
                  " audio.position = [ FL FR ] target.delay.sec = ") + delayText +
      " capture.props = { node.name = \"brontide.airplay.local.feed\" target.object = " +
      jsonString(PipeWireAirPlayOutput::kFanOutSinkName) +
      " stream.capture.sink = true node.dont-reconnect = true }"
      " playback.props = { node.name = \"brontide.airplay.local\" media.role = \"Music\" } }";
  localDelay_ = delay;
  if (!localBranch_.load(connection_.context(), "libpipewire-module-loopback", args, [this] { wakeUp(); }))
    notice(std::string("cannot load the loopback to this computer (") + std::strerror(errno) + ")");
  else
    notice("this computer plays beside the receivers, " + std::to_string(int(delay * 1000)) + " ms later");
}

void ReceiverSessions::open(SinkId id, AirPlayReceiver receiver, double volume) {
  auto sink = std::make_unique<RaopSink>(connection_, id, std::move(receiver), volume, [this] { wakeUp(); });
  RaopSink& s = *sink;
  sinks_.emplace(id, std::move(sink));
  if (!connection_.core()) {
    fail(s, "no PipeWire daemon");
    return;
  }
  if (manager_.away()) {
    fail(s, "no session manager to link it");
    return;
  }
  s.startProbe();
}

void ReceiverSessions::loadSink(RaopSink& sink) {
  if (const auto loaded = sink.load(); !loaded) {
    fail(sink, loaded.error());
    return;
  }
  for (const auto& [id, name] : nodeNames_)
    if (name == sink.nodeName()) bindNode(sink, id);
  events_.connected(sink.id());
}

// Its ports may already be listed: the registry announces a node's ports right after the node.
void ReceiverSessions::bindNode(RaopSink& sink, std::uint32_t id) {
  sink.bindNode(registry_.get(), id);
  for (const auto& [port, node] : inputPorts_) sink.inputPort(registry_.get(), port, node);
}

// The session manager's links went with it, and a WirePlumber 0.4 that meets a sink which has already run links
// nothing at all: every receiver's sink is dropped (and retried by its route), and once it is back the player goes
// to a new fan-out sink.
void ReceiverSessions::managerGone() {
  notice("session manager gone; receivers wait for it");
  while (!sinks_.empty()) fail(*sinks_.begin()->second, "the session manager went away");
}

void ReceiverSessions::managerBack() {
  notice("session manager is back");
  if (!toReceivers_) return;
  destroyFanOut();
  loadFanOut();
}

void ReceiverSessions::onCheck(void* self, std::uint64_t) { static_cast<ReceiverSessions*>(self)->check(); }

void ReceiverSessions::check() {
  const auto now = std::chrono::steady_clock::now();
  for (auto& s : retiring_)
    if (!s->gone() && s->overdue(now)) {
      notice("the server kept " + s->receiver().name + "'s node; unloading its sink anyway");
      s->unload();
    }
  std::erase_if(retiring_, [](const auto& s) { return s->gone(); });
  if (shuttingDown_) {
    finishShutdownOnceRetired();
    return;
  }
  bool anyPlaying = false;
  for (const auto& [id, sink] : sinks_) anyPlaying = anyPlaying || sink->playing();
  if (!anyPlaying) return;
  const auto peers = RaopSink::establishedPeers();
  std::vector<SinkId> lost;
  for (auto& [id, sink] : sinks_) {
    if (!sink->playing()) continue;
    switch (sink->checkSession(peers)) {
      case RaopSink::Session::started: events_.streaming(id); break;
      case RaopSink::Session::lost: lost.push_back(id); break;
      case RaopSink::Session::unchanged: break;
    }
  }
  for (const auto id : lost) fail(*sinks_.at(id), "the receiver ended the session");
}

// Closes the sink and tells the main thread; `sink` is gone afterwards.
void ReceiverSessions::fail(RaopSink& sink, const std::string& reason, bool graceful) {
  const auto id = sink.id();
  close(id, graceful);
  events_.failed(id, reason);
}

// 0.3.65's raop-sink forgets its stream before taking it off the data loop, so unloading a module whose
// node is running races the real-time process callback (a segfault in pw_stream_queue_buffer). With
// `graceful`, the server removes the node first: the module then unloads itself from an idle stream, or is
// unloaded by check() after RaopSink::kRetireLimit.
void ReceiverSessions::close(SinkId id, bool graceful) {
  const auto it = sinks_.find(id);
  if (it == sinks_.end()) return;
  auto sink = std::move(it->second);
  sinks_.erase(it);
  sink->stop();
  if (!sink->loaded()) return;
  if (graceful && registry_ && sink->retire(registry_.get())) {
    retiring_.push_back(std::move(sink));
    return;
  }
  sink->unload();
}

void ReceiverSessions::setVolume(SinkId id, double volume) {
  const auto it = sinks_.find(id);
  if (it != sinks_.end()) it->second->setVolume(volume);
}

}  // namespace brontide::linux::pipewire
