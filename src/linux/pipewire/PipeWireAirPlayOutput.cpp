#include "linux/pipewire/PipeWireAirPlayOutput.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <pipewire/impl.h>
#include <pthread.h>
#include <spa/param/props.h>
#include <spa/pod/builder.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <utility>
#include <vector>

#include "linux/pipewire/Handles.h"

namespace brontide::pw {

namespace {

constexpr int kProbeTimeoutSeconds = 3;
constexpr int kReconnectSeconds = 1;
// A closed sink's module is unloaded once the server has removed its node, or after this long without that.
constexpr auto kRetireLimit = std::chrono::seconds(2);
// A running sink with no RTSP session for this many checks (1 s apart) has lost its receiver: 0.3.65's
// raop-sink only logs the dropped session and keeps consuming, so the session is looked for directly.
constexpr int kMissedChecks = 3;
// The fan-out sink outlives the last receiver by this long, so the player's stream has left it (by restarting on
// the default output) before it goes: the session manager would otherwise move that stream while it plays.
constexpr int kFanOutLingerSeconds = 2;

std::string jsonString(const std::string& text) {
  std::string out = "\"";
  for (const unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

const char* encryptionArgument(AirPlayEncryption encryption) {
  switch (encryption) {
    case AirPlayEncryption::rsa: return "RSA";
    case AirPlayEncryption::authSetup: return "auth_setup";
    case AirPlayEncryption::none: break;
  }
  return "none";
}

timespec seconds(int s) { return timespec{.tv_sec = s, .tv_nsec = 0}; }

// Established TCP connections of this process, as remote "address:port". The raop sinks live in this process,
// so their RTSP sessions are among these sockets.
std::set<std::string> establishedPeers() {
  std::set<std::string> inodes;
  if (DIR* fds = ::opendir("/proc/self/fd")) {
    while (const dirent* entry = ::readdir(fds)) {
      char target[64];
      const std::string path = std::string("/proc/self/fd/") + entry->d_name;
      const auto n = ::readlink(path.c_str(), target, sizeof target - 1);
      if (n <= 0) continue;
      target[n] = 0;
      if (std::strncmp(target, "socket:[", 8) == 0) inodes.insert(std::string(target + 8, std::strlen(target + 8) - 1));
    }
    ::closedir(fds);
  }
  std::set<std::string> peers;
  std::ifstream table("/proc/self/net/tcp");
  std::string line;
  std::getline(table, line);  // header
  while (std::getline(table, line)) {
    std::istringstream fields(line);
    std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
    fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >> timeout >> inode;
    if (state != "01" || !inodes.contains(inode)) continue;  // 01: ESTABLISHED
    const auto colon = remote.find(':');
    if (colon == std::string::npos) continue;
    in_addr address{};
    address.s_addr = static_cast<in_addr_t>(std::stoul(remote.substr(0, colon), nullptr, 16));
    char text[INET_ADDRSTRLEN];
    if (!::inet_ntop(AF_INET, &address, text, sizeof text)) continue;
    peers.insert(std::string(text) + ":" + std::to_string(std::stoul(remote.substr(colon + 1), nullptr, 16)));
  }
  return peers;
}

}  // namespace

// Main-thread side: what posted events reach.
struct PipeWireAirPlayOutput::Relay {
  Handlers handlers;
  std::function<void(std::optional<std::string>)> routePlayer;
  bool toReceivers = false;
  // The fan-out sink the player was last sent to; 0 while it plays to the default output.
  std::uint64_t routedFanOut = 0;

  void fanOutReady(std::uint64_t generation) {
    if (!toReceivers || routedFanOut == generation) return;
    routedFanOut = generation;
    if (routePlayer) routePlayer(std::string(kFanOutSinkName));
  }
};

// Everything below runs on the loop thread, or on the main thread before the loop starts and after it stops.
struct PipeWireAirPlayOutput::Engine {
  struct Sink {
    Engine* engine = nullptr;
    SinkId id = 0;
    AirPlayReceiver receiver;
    double volume = 1;
    // Reachability probe before the module is loaded.
    int probeFd = -1;
    spa_source* probeIo = nullptr;
    spa_source* probeTimer = nullptr;
    std::optional<std::string> probeResult;  // empty string: reachable
    // The sink itself.
    pw_impl_module* module = nullptr;
    HookGuard moduleHook;
    bool moduleGone = false;
    std::uint32_t nodeId = SPA_ID_INVALID;
    PwProxy node;
    // Its feed from the fan-out sink, loaded once both nodes are in the graph.
    pw_impl_module* loopback = nullptr;
    HookGuard loopbackHook;
    HookGuard nodeHook;
    bool running = false;
    bool streamingSaid = false;
    int missedChecks = 0;
    std::chrono::steady_clock::time_point retireDeadline;
  };

  Engine(MainQueue& queue, Log& log, std::weak_ptr<Relay> relay) : queue(queue), log(log), relay(std::move(relay)) {}

  void notice(const std::string& line) { log.notice("airplay: " + line); }

  void post(std::function<void(Relay&)> work) {
    queue.post([weak = relay, work = std::move(work)] {
      if (const auto r = weak.lock()) work(*r);
    });
  }

  pw_loop* pwLoop() const { return pw_thread_loop_get_loop(loop.get()); }

  // --- commands from the main thread -------------------------------------------------------------------------

  void push(std::function<void(Engine&)> work) {
    {
      std::lock_guard lock(commandsMutex);
      commands.push_back(std::move(work));
    }
    pw_loop_signal_event(pwLoop(), wake);
  }

  static void onWake(void* self, std::uint64_t) { static_cast<Engine*>(self)->settle(); }

  // Runs queued commands, then every change callbacks only recorded.
  void settle() {
    std::deque<std::function<void(Engine&)>> work;
    {
      std::lock_guard lock(commandsMutex);
      work.swap(commands);
    }
    for (auto& w : work) w(*this);
    if (broken) {
      dropGraph("the sound server went away");
      return;
    }
    if (std::erase_if(retiring, [](const auto& s) { return s->moduleGone; }) > 0)
      pw_thread_loop_signal(loop.get(), false);
    std::vector<SinkId> ids;
    for (const auto& [id, sink] : sinks) ids.push_back(id);
    for (const auto id : ids) {
      auto it = sinks.find(id);
      if (it == sinks.end()) continue;
      Sink& sink = *it->second;
      if (sink.moduleGone) {
        fail(sink, "the sink closed itself");
      } else if (sink.probeResult) {
        const auto result = *sink.probeResult;
        sink.probeResult.reset();
        endProbe(sink);
        if (result.empty()) {
          loadSink(sink);
        } else {
          fail(sink, result);
        }
      }
    }
    if (fanOutGone) {
      destroyFanOut();
      if (toReceivers && core) loadFanOut();
    }
    if (announcedFanOut != fanOutGeneration) announceFanOut();
    feedReceivers();
  }

  // --- connection --------------------------------------------------------------------------------------------

  void connect() {
    core = pw_context_connect(context.get(), nullptr, 0);
    if (!core) {
      notice(std::string("cannot reach the PipeWire daemon (") + std::strerror(errno) + "), retrying");
      armReconnect();
      return;
    }
    static const pw_core_events kCoreEvents = [] {
      pw_core_events events{};
      events.version = PW_VERSION_CORE_EVENTS;
      events.error = &Engine::onCoreError;
      return events;
    }();
    pw_core_add_listener(core, coreHook.arm(), &kCoreEvents, this);
    registry = pw_core_get_registry(core, PW_VERSION_REGISTRY, 0);
    static const pw_registry_events kRegistryEvents = [] {
      pw_registry_events events{};
      events.version = PW_VERSION_REGISTRY_EVENTS;
      events.global = &Engine::onGlobal;
      events.global_remove = &Engine::onGlobalRemove;
      return events;
    }();
    pw_registry_add_listener(registry, registryHook.arm(), &kRegistryEvents, this);
    if (toReceivers) loadFanOut();
  }

  void armReconnect() {
    auto when = seconds(kReconnectSeconds);
    pw_loop_update_timer(pwLoop(), reconnectTimer, &when, nullptr, false);
  }

  static void onReconnect(void* self, std::uint64_t) { static_cast<Engine*>(self)->connect(); }

  static void onCoreError(void* self, std::uint32_t id, int, int res, const char* message) {
    auto& e = *static_cast<Engine*>(self);
    if (id == PW_ID_CORE && res == -EPIPE) {
      e.broken = true;
      pw_loop_signal_event(e.pwLoop(), e.wake);
      return;
    }
    e.notice("error on object " + std::to_string(id) + ": " + (message ? message : "") + " (" +
             std::strerror(-res) + ")");
  }

  // Fails every sink and forgets the graph; with `reconnect`, connects again shortly.
  void dropGraph(const std::string& reason, bool reconnect = true) {
    broken = false;
    while (!sinks.empty()) fail(*sinks.begin()->second, reason, false);
    for (auto& s : retiring) unload(*s);
    retiring.clear();
    destroyFanOut();
    nodeNames.clear();
    registryHook.remove();
    if (registry) pw_proxy_destroy(reinterpret_cast<pw_proxy*>(registry));
    registry = nullptr;
    coreHook.remove();
    if (core) pw_core_disconnect(core);
    core = nullptr;
    if (reconnect) {
      notice("lost the PipeWire daemon (" + reason + "), reconnecting");
      armReconnect();
    }
  }

  // --- registry ----------------------------------------------------------------------------------------------

  static void onGlobal(void* self, std::uint32_t id, std::uint32_t, const char* type, std::uint32_t,
                       const spa_dict* props) {
    static_cast<Engine*>(self)->global(id, type, props);
  }

  void global(std::uint32_t id, const char* type, const spa_dict* props) {
    if (std::strcmp(type, PW_TYPE_INTERFACE_Node) == 0) {
      const char* name = props ? spa_dict_lookup(props, PW_KEY_NODE_NAME) : nullptr;
      if (!name) return;
      nodeNames[id] = name;
      for (auto& [sinkId, sink] : sinks)
        if (sinkNodeName(sinkId) == name && !sink->node) bindSinkNode(*sink, id);
      pw_loop_signal_event(pwLoop(), wake);  // a feed may now have both ends
    }
  }

  static void onGlobalRemove(void* self, std::uint32_t id) { static_cast<Engine*>(self)->globalRemove(id); }

  void globalRemove(std::uint32_t id) {
    nodeNames.erase(id);
    for (auto& [sinkId, sink] : sinks) {
      if (sink->nodeId != id) continue;
      sink->nodeHook.remove();
      sink->node.reset();
      sink->nodeId = SPA_ID_INVALID;
      sink->running = false;
    }
  }

  // --- the player's route ------------------------------------------------------------------------------------

  bool fanOutInGraph() const { return fanOut && fanOutId != SPA_ID_INVALID && nodeNames.contains(fanOutId); }

  // The player is sent to the fan-out sink only once the session manager can find it there: a stream whose
  // target is missing is linked to the default output, then moved.
  void announceFanOut() {
    if (!toReceivers || !fanOutInGraph()) return;
    announcedFanOut = fanOutGeneration;
    post([generation = fanOutGeneration](Relay& r) { r.fanOutReady(generation); });
  }

  void lingerFanOut() {
    auto when = seconds(kFanOutLingerSeconds);
    pw_loop_update_timer(pwLoop(), lingerTimer, &when, nullptr, false);
  }

  static void onLingerEnd(void* self, std::uint64_t) {
    auto& e = *static_cast<Engine*>(self);
    if (!e.toReceivers) e.destroyFanOut();
  }

  // A virtual sink in the server that the receivers' loopbacks read from its monitor: every feed is then a
  // normal stream the server schedules, so closing one never races another node's process callback.
  void loadFanOut() {
    if (fanOut || !core) return;
    ++fanOutGeneration;
    PwProperties props(pw_properties_new(
        PW_KEY_FACTORY_NAME, "support.null-audio-sink", PW_KEY_NODE_NAME, kFanOutSinkName, PW_KEY_NODE_DESCRIPTION,
        "Brontide AirPlay", PW_KEY_MEDIA_CLASS, "Audio/Sink", PW_KEY_NODE_VIRTUAL, "true", PW_KEY_OBJECT_LINGER,
        "false", "audio.position", "[ FL FR ]",
        // Never the session's default sink.
        "priority.session", "0", "priority.driver", "0",
        // WirePlumber 0.4.13 crashes when an idle sink it suspended is destroyed soon after.
        "session.suspend-timeout-seconds", "0", nullptr));
    fanOut.reset(static_cast<pw_proxy*>(
        pw_core_create_object(core, "adapter", PW_TYPE_INTERFACE_Node, PW_VERSION_NODE, &props->dict, 0)));
    if (!fanOut) {
      notice(std::string("cannot create the AirPlay sink (") + std::strerror(errno) + ")");
      return;
    }
    static const pw_proxy_events kEvents = [] {
      pw_proxy_events events{};
      events.version = PW_VERSION_PROXY_EVENTS;
      events.bound = [](void* self, std::uint32_t id) {
        auto& e = *static_cast<Engine*>(self);
        e.fanOutId = id;
        pw_loop_signal_event(e.pwLoop(), e.wake);
      };
      events.removed = [](void* self) {
        auto& e = *static_cast<Engine*>(self);
        e.fanOutGone = true;
        pw_loop_signal_event(e.pwLoop(), e.wake);
      };
      return events;
    }();
    pw_proxy_add_listener(fanOut.get(), fanOutHook.arm(), &kEvents, this);
  }

  // Feeds go first: their streams would otherwise be left without a source.
  void destroyFanOut() {
    for (auto& [id, sink] : sinks) unloadLoopback(*sink);
    fanOutHook.remove();
    fanOut.reset();
    fanOutId = SPA_ID_INVALID;
    fanOutGone = false;
  }

  // Loads the loopback of every open receiver whose raop node and the fan-out sink are both in the graph; earlier,
  // the session manager would link the loopback to the default output instead.
  void feedReceivers() {
    if (!fanOutInGraph()) return;
    for (auto& [id, sink] : sinks)
      if (sink->module && !sink->loopback && sink->nodeId != SPA_ID_INVALID) loadLoopback(*sink);
  }

  void loadLoopback(Sink& s) {
    const auto feed = jsonString(sinkNodeName(s.id) + ".feed");
    const std::string args =
        "{ node.description = " + jsonString("Brontide AirPlay to " + s.receiver.name) +
        " audio.channels = 2 audio.position = [ FL FR ]"
        " capture.props = { node.name = " + feed + " target.object = " + jsonString(kFanOutSinkName) +
        " stream.capture.sink = true node.dont-reconnect = true }"
        " playback.props = { node.name = " + jsonString(sinkNodeName(s.id) + ".out") +
        " target.object = " + jsonString(sinkNodeName(s.id)) + " node.dont-reconnect = true } }";
    s.loopback = pw_context_load_module(context.get(), "libpipewire-module-loopback", args.c_str(), nullptr);
    if (!s.loopback) {
      fail(s, std::string("cannot load the loopback module (") + std::strerror(errno) + ")");
      return;
    }
    static const pw_impl_module_events kEvents = [] {
      pw_impl_module_events events{};
      events.version = PW_VERSION_IMPL_MODULE_EVENTS;
      // The module unloads itself when one of its ends goes; feedReceivers() loads it again if both are back.
      events.destroy = [](void* sink) {
        auto& gone = *static_cast<Sink*>(sink);
        gone.loopbackHook.remove();
        gone.loopback = nullptr;
        pw_loop_signal_event(gone.engine->pwLoop(), gone.engine->wake);
      };
      return events;
    }();
    pw_impl_module_add_listener(s.loopback, s.loopbackHook.arm(), &kEvents, &s);
  }

  void unloadLoopback(Sink& s) {
    s.loopbackHook.remove();
    if (s.loopback) pw_impl_module_destroy(s.loopback);
    s.loopback = nullptr;
  }

  // --- sinks -------------------------------------------------------------------------------------------------

  void open(SinkId id, AirPlayReceiver receiver, double volume) {
    auto sink = std::make_unique<Sink>();
    sink->engine = this;
    sink->id = id;
    sink->receiver = std::move(receiver);
    sink->volume = volume;
    Sink& s = *sink;
    sinks.emplace(id, std::move(sink));
    if (!core) {
      fail(s, "no PipeWire daemon");
      return;
    }
    startProbe(s);
  }

  void startProbe(Sink& s) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(s.receiver.port);
    if (::inet_pton(AF_INET, s.receiver.address.c_str(), &address.sin_addr) != 1) {
      s.probeResult = "\"" + s.receiver.address + "\" is not a numeric IPv4 address";
      pw_loop_signal_event(pwLoop(), wake);
      return;
    }
    s.probeFd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (s.probeFd < 0) {
      s.probeResult = std::string("socket: ") + std::strerror(errno);
      pw_loop_signal_event(pwLoop(), wake);
      return;
    }
    if (::connect(s.probeFd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
      s.probeResult = "";
      pw_loop_signal_event(pwLoop(), wake);
      return;
    }
    if (errno != EINPROGRESS) {
      s.probeResult = std::string("connect: ") + std::strerror(errno);
      pw_loop_signal_event(pwLoop(), wake);
      return;
    }
    s.probeIo = pw_loop_add_io(pwLoop(), s.probeFd, SPA_IO_OUT | SPA_IO_ERR | SPA_IO_HUP, false, &Engine::onProbeIo, &s);
    s.probeTimer = pw_loop_add_timer(pwLoop(), &Engine::onProbeTimeout, &s);
    auto when = seconds(kProbeTimeoutSeconds);
    pw_loop_update_timer(pwLoop(), s.probeTimer, &when, nullptr, false);
  }

  static void onProbeIo(void* sink, int fd, std::uint32_t) {
    auto& s = *static_cast<Sink*>(sink);
    if (s.probeResult) return;
    int error = 0;
    socklen_t size = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) < 0) error = errno;
    s.probeResult = error == 0 ? std::string() : std::string("connect: ") + std::strerror(error);
    // Sources are destroyed outside their own callbacks.
    pw_loop_update_io(s.engine->pwLoop(), s.probeIo, 0);
    pw_loop_signal_event(s.engine->pwLoop(), s.engine->wake);
  }

  static void onProbeTimeout(void* sink, std::uint64_t) {
    auto& s = *static_cast<Sink*>(sink);
    if (s.probeResult) return;
    s.probeResult = "no answer within " + std::to_string(kProbeTimeoutSeconds) + " s";
    pw_loop_signal_event(s.engine->pwLoop(), s.engine->wake);
  }

  void endProbe(Sink& s) {
    if (s.probeIo) pw_loop_destroy_source(pwLoop(), s.probeIo);
    if (s.probeTimer) pw_loop_destroy_source(pwLoop(), s.probeTimer);
    if (s.probeFd >= 0) ::close(s.probeFd);
    s.probeIo = nullptr;
    s.probeTimer = nullptr;
    s.probeFd = -1;
  }

  void loadSink(Sink& s) {
    const auto& r = s.receiver;
    std::string args = "{ raop.hostname = " + jsonString(r.address) + " raop.port = " + std::to_string(r.port) +
                       " raop.transport = " + (r.transport == AirPlayTransport::tcp ? "tcp" : "udp") +
                       " raop.encryption.type = " + encryptionArgument(r.encryption) + " raop.audio.codec = PCM";
    if (r.password) args += " raop.password = " + jsonString(*r.password);
    // Never the session's default sink; never suspended (see loadFanOut).
    args += " stream.props = { node.name = " + jsonString(sinkNodeName(s.id)) +
            " node.description = " + jsonString(r.name) +
            // WirePlumber 0.4.13 restores sink volumes by media.name, which the module makes "RAOP sink" for
            // every receiver: name each after its receiver so one receiver's volume never lands on another.
            " media.name = " + jsonString("AirPlay: " + r.name) +
            " priority.session = 0 priority.driver = 0 session.suspend-timeout-seconds = 0 } }";
    s.module = pw_context_load_module(context.get(), "libpipewire-module-raop-sink", args.c_str(), nullptr);
    if (!s.module) {
      fail(s, std::string("cannot load the raop-sink module (") + std::strerror(errno) + ")");
      return;
    }
    static const pw_impl_module_events kEvents = [] {
      pw_impl_module_events events{};
      events.version = PW_VERSION_IMPL_MODULE_EVENTS;
      events.destroy = [](void* sink) {
        auto& gone = *static_cast<Sink*>(sink);
        gone.moduleHook.remove();
        gone.module = nullptr;
        gone.moduleGone = true;
        pw_loop_signal_event(gone.engine->pwLoop(), gone.engine->wake);
      };
      return events;
    }();
    pw_impl_module_add_listener(s.module, s.moduleHook.arm(), &kEvents, &s);
    for (const auto& [id, name] : nodeNames)
      if (name == sinkNodeName(s.id)) bindSinkNode(s, id);
    const auto id = s.id;
    post([id](Relay& relay) {
      if (relay.handlers.connected) relay.handlers.connected(id);
    });
  }

  void bindSinkNode(Sink& s, std::uint32_t id) {
    s.nodeId = id;
    s.node.reset(static_cast<pw_proxy*>(pw_registry_bind(registry, id, PW_TYPE_INTERFACE_Node, PW_VERSION_NODE, 0)));
    static const pw_node_events kEvents = [] {
      pw_node_events events{};
      events.version = PW_VERSION_NODE_EVENTS;
      events.info = [](void* sink, const pw_node_info* info) {
        auto& changed = *static_cast<Sink*>(sink);
        if (!(info->change_mask & PW_NODE_CHANGE_MASK_STATE)) return;
        const bool wasRunning = changed.running;
        changed.running = info->state == PW_NODE_STATE_RUNNING;
        // The session manager may restore a saved volume after the node appears: ours wins once sound flows.
        if (changed.running && !wasRunning) changed.engine->applyVolume(changed);
        if (!changed.running) {
          changed.missedChecks = 0;
          changed.streamingSaid = false;
        }
      };
      return events;
    }();
    pw_node_add_listener(reinterpret_cast<pw_node*>(s.node.get()), s.nodeHook.arm(), &kEvents, &s);
    applyVolume(s);
  }

  void applyVolume(Sink& s) {
    if (!s.node) return;
    // Cubic, as desktop volume sliders map their position to the software gain.
    float gain = static_cast<float>(std::pow(std::clamp(s.volume, 0.0, 1.0), 3.0));
    float volumes[2] = {gain, gain};
    std::uint8_t buffer[256];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
    spa_pod_frame frame;
    spa_pod_builder_push_object(&builder, &frame, SPA_TYPE_OBJECT_Props, SPA_PARAM_Props);
    spa_pod_builder_prop(&builder, SPA_PROP_channelVolumes, 0);
    spa_pod_builder_array(&builder, sizeof(float), SPA_TYPE_Float, 2, volumes);
    const auto* pod = static_cast<const spa_pod*>(spa_pod_builder_pop(&builder, &frame));
    pw_node_set_param(reinterpret_cast<pw_node*>(s.node.get()), SPA_PARAM_Props, 0, pod);
  }

  static void onCheck(void* self, std::uint64_t) { static_cast<Engine*>(self)->check(); }

  void check() {
    const auto now = std::chrono::steady_clock::now();
    for (auto& s : retiring)
      if (!s->moduleGone && now >= s->retireDeadline) {
        notice("the server kept " + s->receiver.name + "'s node; unloading its sink anyway");
        unload(*s);
      }
    std::erase_if(retiring, [](const auto& s) { return s->moduleGone; });
    bool anyRunning = false;
    for (const auto& [id, sink] : sinks) anyRunning = anyRunning || (sink->module && sink->running);
    if (!anyRunning) return;
    const auto peers = establishedPeers();
    std::vector<SinkId> lost;
    for (auto& [id, sink] : sinks) {
      if (!sink->module || !sink->running) continue;
      if (peers.contains(sink->receiver.address + ":" + std::to_string(sink->receiver.port))) {
        sink->missedChecks = 0;
        if (!sink->streamingSaid) {
          sink->streamingSaid = true;
          post([id = id](Relay& relay) {
            if (relay.handlers.streaming) relay.handlers.streaming(id);
          });
        }
      } else if (++sink->missedChecks >= kMissedChecks) {
        lost.push_back(id);
      }
    }
    for (const auto id : lost) fail(*sinks.at(id), "the receiver ended the session");
  }

  // Closes the sink and tells the main thread; `s` is gone afterwards.
  void fail(Sink& s, const std::string& reason, bool graceful = true) {
    const auto id = s.id;
    close(id, graceful);
    post([id, reason](Relay& relay) {
      if (relay.handlers.failed) relay.handlers.failed(id, reason);
    });
  }

  // 0.3.65's raop-sink forgets its stream before taking it off the data loop, so unloading a module whose
  // node is running races the real-time process callback (a segfault in pw_stream_queue_buffer). With
  // `graceful`, the server removes the node first: the module then unloads itself from an idle stream, or is
  // unloaded by check() after kRetireLimit.
  void close(SinkId id, bool graceful = true) {
    const auto it = sinks.find(id);
    if (it == sinks.end()) return;
    auto sink = std::move(it->second);
    sinks.erase(it);
    endProbe(*sink);
    // Its feed first: a scheduled stream that leaves cleanly, before the raop node it writes to.
    unloadLoopback(*sink);
    sink->nodeHook.remove();
    sink->node.reset();
    if (!sink->module) return;
    if (graceful && registry && sink->nodeId != SPA_ID_INVALID) {
      pw_registry_destroy(registry, sink->nodeId);
      sink->retireDeadline = std::chrono::steady_clock::now() + kRetireLimit;
      retiring.push_back(std::move(sink));
      return;
    }
    unload(*sink);
  }

  static int noop(spa_loop*, bool, std::uint32_t, const void*, std::size_t, void*) { return 0; }

  void unload(Sink& s) {
    if (!s.module) return;
    // Lets a process callback already running on the data loop finish before the stream goes.
    pw_loop_invoke(pw_data_loop_get_loop(pw_context_get_data_loop(context.get())), &Engine::noop, 0, nullptr, 0,
                   true, nullptr);
    s.moduleHook.remove();
    pw_impl_module_destroy(s.module);
    s.module = nullptr;
    s.moduleGone = true;
  }

  void setVolume(SinkId id, double volume) {
    const auto it = sinks.find(id);
    if (it == sinks.end()) return;
    it->second->volume = volume;
    applyVolume(*it->second);
  }

  MainQueue& queue;
  Log& log;
  std::weak_ptr<Relay> relay;

  std::mutex commandsMutex;
  std::deque<std::function<void(Engine&)>> commands;

  // Members in creation order: destruction (after the loop has stopped) runs in reverse.
  PwThreadLoop loop;
  PwContext context;
  spa_source* wake = nullptr;
  spa_source* checkTimer = nullptr;
  spa_source* reconnectTimer = nullptr;
  spa_source* lingerTimer = nullptr;
  pw_core* core = nullptr;
  HookGuard coreHook;
  pw_registry* registry = nullptr;
  HookGuard registryHook;
  PwProxy fanOut;
  HookGuard fanOutHook;
  std::uint32_t fanOutId = SPA_ID_INVALID;
  bool fanOutGone = false;
  std::uint64_t fanOutGeneration = 0;  // one per fan-out sink made
  std::uint64_t announcedFanOut = 0;
  std::map<SinkId, std::unique_ptr<Sink>> sinks;
  std::vector<std::unique_ptr<Sink>> retiring;  // closed; their modules wait for the server to drop the node
  std::map<std::uint32_t, std::string> nodeNames;  // every node of the graph
  bool toReceivers = false;
  bool broken = false;
};

PipeWireAirPlayOutput::PipeWireAirPlayOutput(MainQueue& mainQueue, Log& log, Options options)
    : mainQueue_(mainQueue), relay_(std::make_shared<Relay>()), engine_(std::make_unique<Engine>(mainQueue, log, relay_)) {
  relay_->routePlayer = std::move(options.routePlayer);
  auto& e = *engine_;
  e.loop.reset(pw_thread_loop_new("brontide.airplay", nullptr));
  if (!e.loop) {
    e.notice("cannot create the PipeWire loop: AirPlay output is off");
    return;
  }
  e.context.reset(pw_context_new(e.pwLoop(), nullptr, 0));
  if (!e.context) {
    e.notice("cannot create the PipeWire context: AirPlay output is off");
    e.loop.reset();
    return;
  }
  e.wake = pw_loop_add_event(e.pwLoop(), &Engine::onWake, &e);
  e.checkTimer = pw_loop_add_timer(e.pwLoop(), &Engine::onCheck, &e);
  e.reconnectTimer = pw_loop_add_timer(e.pwLoop(), &Engine::onReconnect, &e);
  e.lingerTimer = pw_loop_add_timer(e.pwLoop(), &Engine::onLingerEnd, &e);
  auto period = seconds(1);
  pw_loop_update_timer(e.pwLoop(), e.checkTimer, &period, &period, false);
  if (pw_thread_loop_start(e.loop.get()) < 0) {
    e.notice("cannot start the PipeWire loop: AirPlay output is off");
    e.context.reset();
    e.loop.reset();
    return;
  }
  e.push([](Engine& engine) {
    pthread_setname_np(pthread_self(), "brontide.airpl");
    engine.connect();
  });
}

PipeWireAirPlayOutput::~PipeWireAirPlayOutput() {
  auto& e = *engine_;
  if (!e.loop) return;
  {
    LoopLock lock(e.loop.get());
    while (!e.sinks.empty()) e.close(e.sinks.begin()->first);
    // The loop thread runs while this one waits; settle() signals each time a module has gone.
    const auto deadline = std::chrono::steady_clock::now() + kRetireLimit;
    while (!e.retiring.empty() && std::chrono::steady_clock::now() < deadline)
      pw_thread_loop_timed_wait(e.loop.get(), 1);
    e.dropGraph("closing", false);
  }
  pw_thread_loop_stop(e.loop.get());
  pw_loop_destroy_source(e.pwLoop(), e.wake);
  pw_loop_destroy_source(e.pwLoop(), e.checkTimer);
  pw_loop_destroy_source(e.pwLoop(), e.reconnectTimer);
  pw_loop_destroy_source(e.pwLoop(), e.lingerTimer);
  e.context.reset();
  e.loop.reset();
}

void PipeWireAirPlayOutput::command(std::function<void(Engine&)> work) {
  if (engine_->loop) engine_->push(std::move(work));
}

void PipeWireAirPlayOutput::setHandlers(Handlers handlers) { relay_->handlers = std::move(handlers); }

AirPlayOutput::SinkId PipeWireAirPlayOutput::open(const AirPlayReceiver& receiver) {
  const SinkId id = ++lastSink_;
  if (!engine_->loop) {
    mainQueue_.post([weak = std::weak_ptr(relay_), id] {
      if (const auto r = weak.lock(); r && r->handlers.failed) r->handlers.failed(id, "no PipeWire loop");
    });
    return id;
  }
  command([id, receiver](Engine& e) { e.open(id, receiver, 1.0); });
  return id;
}

void PipeWireAirPlayOutput::close(SinkId sink) {
  command([sink](Engine& e) { e.close(sink); });
}

void PipeWireAirPlayOutput::setVolume(SinkId sink, double volume) {
  command([sink, volume](Engine& e) { e.setVolume(sink, volume); });
}

void PipeWireAirPlayOutput::routeToReceivers() {
  relay_->toReceivers = true;
  command([](Engine& e) {
    e.toReceivers = true;
    e.loadFanOut();
    e.announceFanOut();
  });
}

void PipeWireAirPlayOutput::routeToDefault() {
  relay_->toReceivers = false;
  if (std::exchange(relay_->routedFanOut, 0) != 0 && relay_->routePlayer) relay_->routePlayer(std::nullopt);
  command([](Engine& e) {
    e.toReceivers = false;
    e.lingerFanOut();
  });
}

std::string PipeWireAirPlayOutput::sinkNodeName(SinkId sink) { return "brontide.airplay." + std::to_string(sink); }

}  // namespace brontide::pw
