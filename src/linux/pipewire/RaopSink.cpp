#include "linux/pipewire/RaopSink.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <spa/param/latency-utils.h>
#include <spa/param/props.h>
#include <spa/pod/builder.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <utility>

#include "base/VolumeLaws.h"
#include "linux/pipewire/PipeWireAirPlayOutput.h"
#include "linux/pipewire/RaopArguments.h"

namespace brontide::linux::pipewire {

namespace {

constexpr int kProbeTimeoutSeconds = 3;
// A running sink with no RTSP session for this many checks (1 s apart) has lost its receiver: 0.3.65's
// raop-sink only logs the dropped session and keeps consuming, so the session is looked for directly.
constexpr int kMissedChecks = 3;

int noop(spa_loop*, bool, std::uint32_t, const void*, std::size_t, void*) { return 0; }

}  // namespace

RaopSink::RaopSink(PwConnection& connection, Id id, AirPlayReceiver receiver, double volume,
                   std::function<void()> changed)
    : connection_(connection), id_(id), receiver_(std::move(receiver)), volume_(volume), changed_(std::move(changed)) {}

// Its owner has normally done this already; the order is the one close() keeps.
RaopSink::~RaopSink() {
  stop();
  unload();
}

std::string RaopSink::nodeName() const { return PipeWireAirPlayOutput::sinkNodeName(id_); }

void RaopSink::startProbe() {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(receiver_.port);
  if (::inet_pton(AF_INET, receiver_.address.c_str(), &address.sin_addr) != 1) {
    probeResult_ = "\"" + receiver_.address + "\" is not a numeric IPv4 address";
    changed_();
    return;
  }
  probeFd_.reset(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (probeFd_.get() < 0) {
    probeResult_ = std::string("socket: ") + std::strerror(errno);
    changed_();
    return;
  }
  if (::connect(probeFd_.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
    probeResult_ = "";
    changed_();
    return;
  }
  if (errno != EINPROGRESS) {
    probeResult_ = std::string("connect: ") + std::strerror(errno);
    changed_();
    return;
  }
  pw_loop* loop = connection_.loop();
  probeIo_ = LoopSource(loop, pw_loop_add_io(loop, probeFd_.get(), SPA_IO_OUT | SPA_IO_ERR | SPA_IO_HUP, false,
                                             &RaopSink::onProbeIo, this));
  probeTimer_ = LoopSource(loop, pw_loop_add_timer(loop, &RaopSink::onProbeTimeout, this));
  armTimer(loop, probeTimer_, kProbeTimeoutSeconds);
}

void RaopSink::onProbeIo(void* sink, int fd, std::uint32_t) {
  auto& s = *static_cast<RaopSink*>(sink);
  if (s.probeResult_) return;
  int error = 0;
  socklen_t size = sizeof error;
  if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) < 0) error = errno;
  s.probeResult_ = error == 0 ? std::string() : std::string("connect: ") + std::strerror(error);
  // Sources are destroyed outside their own callbacks.
  pw_loop_update_io(s.connection_.loop(), s.probeIo_.get(), 0);
  s.changed_();
}

void RaopSink::onProbeTimeout(void* sink, std::uint64_t) {
  auto& s = *static_cast<RaopSink*>(sink);
  if (s.probeResult_) return;
  s.probeResult_ = "no answer within " + std::to_string(kProbeTimeoutSeconds) + " s";
  s.changed_();
}

std::optional<std::string> RaopSink::takeProbeResult() {
  auto result = std::exchange(probeResult_, std::nullopt);
  if (result) endProbe();
  return result;
}

void RaopSink::endProbe() {
  probeIo_.reset();
  probeTimer_.reset();
  probeFd_.reset();
}

std::expected<void, std::string> RaopSink::load() {
  const auto args = raopSinkArguments(receiver_, nodeName(), PipeWireAirPlayOutput::kFanOutSinkName, LibraryVersion::loaded());
  const bool loadedNow = module_.load(connection_.context(), "libpipewire-module-raop-sink", args, [this] {
    moduleGone_ = true;
    changed_();
  });
  if (!loadedNow)
    return std::unexpected(std::string("cannot load the raop-sink module (") + std::strerror(errno) + ")");
  if (raopSinkSendsVolume(LibraryVersion::loaded())) latency_ = kRaopLatencyMs / 1000.0;
  return {};
}

void RaopSink::unload() {
  if (!module_) return;
  // Lets a process callback already running on the data loop finish before the stream goes.
  pw_loop_invoke(pw_data_loop_get_loop(pw_context_get_data_loop(connection_.context())), &noop, 0, nullptr, 0, true,
                 nullptr);
  module_.reset();
  moduleGone_ = true;
}

void RaopSink::bindNode(pw_registry* registry, std::uint32_t id) {
  nodeId_ = id;
  node_.reset(static_cast<pw_proxy*>(pw_registry_bind(registry, id, PW_TYPE_INTERFACE_Node, PW_VERSION_NODE, 0)));
  static const pw_node_events kEvents = [] {
    pw_node_events events{};
    events.version = PW_VERSION_NODE_EVENTS;
    events.info = &RaopSink::onNodeInfo;
    return events;
  }();
  pw_node_add_listener(reinterpret_cast<pw_node*>(node_.get()), nodeHook_.arm(), &kEvents, this);
  applyVolume();
}

void RaopSink::inputPort(pw_registry* registry, std::uint32_t id, std::uint32_t node) {
  if (port_ || node != nodeId_ || raopSinkSendsVolume(LibraryVersion::loaded())) return;
  port_.reset(static_cast<pw_proxy*>(pw_registry_bind(registry, id, PW_TYPE_INTERFACE_Port, PW_VERSION_PORT, 0)));
  static const pw_port_events kEvents = [] {
    pw_port_events events{};
    events.version = PW_VERSION_PORT_EVENTS;
    events.param = &RaopSink::onPortParam;
    return events;
  }();
  auto* port = reinterpret_cast<pw_port*>(port_.get());
  pw_port_add_listener(port, portHook_.arm(), &kEvents, this);
  std::uint32_t latencyParam = SPA_PARAM_Latency;
  pw_port_subscribe_params(port, &latencyParam, 1);
}

void RaopSink::onPortParam(void* sink, int, std::uint32_t id, std::uint32_t, std::uint32_t, const spa_pod* param) {
  spa_latency_info info{};
  if (id != SPA_PARAM_Latency || !param || spa_latency_parse(param, &info) < 0) return;
  // A port says nothing (0) until the sink has set its latency.
  if (info.direction != SPA_DIRECTION_INPUT || (info.min_rate == 0 && info.min_ns == 0)) return;
  auto& s = *static_cast<RaopSink*>(sink);
  // Counted in the sink's own samples, 44.1 kHz.
  s.latency_ = double(info.min_rate) / 44100 + double(info.min_ns) / 1e9;
  s.changed_();
}

void RaopSink::onNodeInfo(void* sink, const pw_node_info* info) {
  auto& s = *static_cast<RaopSink*>(sink);
  if (!(info->change_mask & PW_NODE_CHANGE_MASK_STATE)) return;
  const bool wasRunning = s.running_;
  s.running_ = info->state == PW_NODE_STATE_RUNNING;
  // The session manager may restore a saved volume after the node appears: ours wins once sound flows.
  if (s.running_ && !wasRunning) s.applyVolume();
  if (!s.running_) {
    s.missedChecks_ = 0;
    s.streamingSaid_ = false;
  }
}

void RaopSink::forgetNode(std::uint32_t id) {
  if (nodeId_ != id) return;
  if (!raopSinkSendsVolume(LibraryVersion::loaded())) latency_.reset();
  portHook_.remove();
  port_.reset();
  nodeHook_.remove();
  node_.reset();
  nodeId_ = SPA_ID_INVALID;
  running_ = false;
}

void RaopSink::setVolume(double volume) {
  volume_ = volume;
  applyVolume();
}

void RaopSink::applyVolume() {
  if (!node_) return;
  const float gain = volume::speakerChannelVolume(volume_);
  float volumes[2] = {gain, gain};
  std::uint8_t buffer[256];
  spa_pod_builder builder = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
  spa_pod_frame frame;
  spa_pod_builder_push_object(&builder, &frame, SPA_TYPE_OBJECT_Props, SPA_PARAM_Props);
  spa_pod_builder_prop(&builder, SPA_PROP_mute, 0);
  spa_pod_builder_bool(&builder, volume::clampPosition(volume_) == 0);
  spa_pod_builder_prop(&builder, SPA_PROP_channelVolumes, 0);
  spa_pod_builder_array(&builder, sizeof(float), SPA_TYPE_Float, 2, volumes);
  const auto* pod = static_cast<const spa_pod*>(spa_pod_builder_pop(&builder, &frame));
  pw_node_set_param(reinterpret_cast<pw_node*>(node_.get()), SPA_PARAM_Props, 0, pod);
}

RaopSink::Session RaopSink::checkSession(const std::set<std::string>& peers) {
  if (!peers.contains(receiver_.address + ":" + std::to_string(receiver_.port)))
    return ++missedChecks_ >= kMissedChecks ? Session::lost : Session::unchanged;
  missedChecks_ = 0;
  if (streamingSaid_) {
    // The sink sends the volume right after RECORD, and a receiver that is still starting its player may set its
    // own start volume over it (shairport-sync 4 does): the same volume again on the next checks.
    if (volumeResends_ > 0) {
      --volumeResends_;
      applyVolume();
    }
    return Session::unchanged;
  }
  streamingSaid_ = true;
  volumeResends_ = kVolumeResends;
  return Session::started;
}

// The raop sinks live in this process, so their RTSP sessions are among these sockets.
std::set<std::string> RaopSink::establishedPeers() {
  std::set<std::string> inodes;
  if (const Directory fds{::opendir("/proc/self/fd")}) {
    while (const dirent* entry = ::readdir(fds.get())) {
      char target[64];
      const std::string path = std::string("/proc/self/fd/") + entry->d_name;
      const auto n = ::readlink(path.c_str(), target, sizeof target - 1);
      if (n <= 0) continue;
      target[n] = 0;
      if (std::strncmp(target, "socket:[", 8) == 0) inodes.insert(std::string(target + 8, std::strlen(target + 8) - 1));
    }
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

std::expected<void, std::string> RaopSink::loadFeed() {
  const auto feed = jsonString(nodeName() + ".feed");
  const auto fanOut = jsonString(PipeWireAirPlayOutput::kFanOutSinkName);
  const std::string args =
      "{ node.description = " + jsonString("Brontide AirPlay to " + receiver_.name) +
      " audio.channels = 2 audio.position = [ FL FR ]"
      " capture.props = { node.name = " + feed + " target.object = " + fanOut +
      " stream.capture.sink = true node.dont-reconnect = true }"
      " playback.props = { node.name = " + jsonString(nodeName() + ".out") +
      " target.object = " + jsonString(nodeName()) + " node.dont-reconnect = true } }";
  // The module unloads itself when one of its ends goes; the owner loads it again once both are back.
  if (!loopback_.load(connection_.context(), "libpipewire-module-loopback", args, changed_))
    return std::unexpected(std::string("cannot load the loopback module (") + std::strerror(errno) + ")");
  return {};
}

void RaopSink::unloadFeed() { loopback_.reset(); }

void RaopSink::stop() {
  endProbe();
  // Its feed first: a scheduled stream that leaves cleanly, before the raop node it writes to.
  unloadFeed();
  portHook_.remove();
  port_.reset();
  nodeHook_.remove();
  node_.reset();
}

bool RaopSink::retire(pw_registry* registry) {
  if (nodeId_ == SPA_ID_INVALID) return false;
  pw_registry_destroy(registry, nodeId_);
  retireDeadline_ = std::chrono::steady_clock::now() + kRetireLimit;
  return true;
}

}  // namespace brontide::linux::pipewire
