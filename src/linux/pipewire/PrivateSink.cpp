#include "linux/pipewire/PrivateSink.h"

#include <algorithm>
#include <cerrno>

#include "base/Format.h"

namespace brontide::linux::pipewire {
namespace {

using namespace std::chrono_literals;

constexpr auto kMoveCheckDelay = 200ms;
// After this the sink goes even if a stream is still linked to it: a dead session manager cannot keep it.
constexpr auto kRelinkTimeout = 250ms;
constexpr auto kUnlinkPoll = 5ms;

}  // namespace

PrivateSink::PrivateSink(PwConnection& connection, Graph& graph, Log& log, std::string name, std::string description)
    : connection_(connection), graph_(graph), log_(log), name_(std::move(name)), description_(std::move(description)) {}

PrivateSink::~PrivateSink() { destroy(); }

std::optional<std::uint32_t> PrivateSink::node() const {
  if (!sink_ || sink_->id == SPA_ID_INVALID) return std::nullopt;
  return sink_->id;
}

std::vector<std::uint64_t> PrivateSink::taps() const {
  std::vector<std::uint64_t> ids;
  for (const auto& [id, tap] : taps_) ids.push_back(id);
  return ids;
}

int PrivateSink::create(std::uint32_t rate) {
  auto props = PwProperties(pw_properties_new(
      "factory.name", "support.null-audio-sink", PW_KEY_NODE_NAME, name_.c_str(), PW_KEY_NODE_DESCRIPTION,
      description_.c_str(), PW_KEY_MEDIA_CLASS, "Audio/Sink", PW_KEY_NODE_VIRTUAL, "true",
      // Removed by the server when Brontide dies, so a killed instance leaves no sink behind.
      PW_KEY_OBJECT_LINGER, "false",
      // WirePlumber 0.4.13 crashes when an idle sink is destroyed while it suspends it.
      "session.suspend-timeout-seconds", "0",
      // Never anyone's default output.
      PW_KEY_PRIORITY_SESSION, "0", "audio.position", "FL,FR", "monitor.channel-volumes", "false", nullptr));
  pw_properties_setf(props.get(), "audio.rate", "%u", rate);
  pw_properties_set(props.get(), "audio.channels", "2");
  auto sink = std::make_unique<Sink>();
  sink->rate = rate;
  sink->proxy.reset(static_cast<pw_proxy*>(pw_core_create_object(connection_.core(), "adapter", PW_TYPE_INTERFACE_Node,
                                                                 PW_VERSION_NODE, &props->dict, 0)));
  if (!sink->proxy) return -errno;
  static const pw_proxy_events kEvents = [] {
    pw_proxy_events events{};
    events.version = PW_VERSION_PROXY_EVENTS;
    events.bound = [](void* data, std::uint32_t id) {
      auto* self = static_cast<PrivateSink*>(data);
      if (self->sink_) self->sink_->id = id;
      self->checkReady();
      self->connection_.signal();
    };
    events.error = [](void* data, int, int res, const char* message) {
      auto* self = static_cast<PrivateSink*>(data);
      if (self->sink_) self->sink_->error = res;
      self->log_.notice(formatString("capture: tap sink failed: %s (%d)", message ? message : "", res));
      self->connection_.signal();
    };
    return events;
  }();
  pw_proxy_add_listener(sink->proxy.get(), sink->listener.arm(), &kEvents, this);
  sink_ = std::move(sink);
  return 0;
}

void PrivateSink::destroy() {
  if (!sink_) return;
  sink_->listener.remove();
  sink_.reset();
}

int PrivateSink::add(std::uint64_t tap, std::set<std::uint32_t> clients, std::uint32_t rate) {
  if (!sink_) {
    if (const int res = create(rate); res < 0) return res;
  }
  sink_->idleSince.reset();
  taps_[tap] = Tap{std::move(clients), {}};
  if (sink_->announced) moveStreams(tap);
  return 0;
}

void PrivateSink::remove(std::uint64_t tap, TimePoint now) {
  if (taps_.erase(tap) == 0) return;
  std::erase_if(moveChecks_, [&](const MoveCheck& check) { return check.tap == tap; });
  mover_.release(tap, now);
  if (taps_.empty() && sink_) sink_->idleSince = now;
}

void PrivateSink::discard(std::uint64_t tap) {
  taps_.erase(tap);
  if (taps_.empty()) destroy();
}

std::vector<std::string> PrivateSink::unmovableApplications(std::uint64_t tap) const {
  auto it = taps_.find(tap);
  return it == taps_.end() ? std::vector<std::string>{} : it->second.unmovable;
}

void PrivateSink::portAdded(const Port& port) {
  if (sink_ && port.node == sink_->id) checkReady();
}

void PrivateSink::checkReady() {
  // Two playback and two monitor ports: before that a capture stream would be linked elsewhere.
  if (!sink_ || sink_->announced || sink_->id == SPA_ID_INVALID || graph_.portCount(sink_->id) < 4 ||
      !graph_.hasDefaultMetadata())
    return;
  sink_->announced = true;
  mover_.setTarget(name_);
  clearLeftovers();
  for (const auto& [id, tap] : taps_) moveStreams(id);
  if (onReady) onReady();
}

void PrivateSink::clearLeftovers() {
  // Keys naming our sink on streams no tap holds were left by an instance that was killed.
  for (const auto& [subject, value] : graph_.defaultEntries(StreamMover::kTargetObject)) {
    if (mover_.isMoved(subject) || !mover_.pointsAtTarget(value)) continue;
    log_.notice(formatString("capture: clearing a leftover route of stream %u into the tap", subject));
    write(subject, StreamMover::kTargetObject, std::nullopt);
    write(subject, StreamMover::kTargetNode, std::nullopt);
  }
}

void PrivateSink::nodeChanged(const Node& node) {
  if (!node.isOutputStream()) return;
  for (const auto& [id, tap] : taps_) moveStream(id, node);
}

void PrivateSink::clientChanged() {
  // A client's info may arrive after its nodes': look at them again.
  for (const auto& [id, tap] : taps_) moveStreams(id);
}

void PrivateSink::moveStreams(std::uint64_t tap) {
  for (const Node* node : graph_.outputStreams()) moveStream(tap, *node);
}

void PrivateSink::moveStream(std::uint64_t tapId, const Node& node) {
  if (!sink_ || !sink_->announced || !graph_.hasDefaultMetadata()) return;
  const auto moved = mover_.streamsOf(tapId);
  if (std::ranges::find(moved, node.id) != moved.end()) return;
  // Resolve the owner through its serial: ids are reused, serials are not.
  const Client* client = graph_.clientOf(node);
  auto tap = taps_.find(tapId);
  if (!client || !client->serial || tap == taps_.end() || !tap->second.clients.contains(*client->serial)) return;
  mover_.want(tapId, node.id);
  moveChecks_.push_back(MoveCheck{std::chrono::steady_clock::now() + kMoveCheckDelay, tapId, node.id});
}

void PrivateSink::checkMoved(std::uint64_t tapId, std::uint32_t nodeId) {
  auto tap = taps_.find(tapId);
  const Node* node = graph_.node(nodeId);
  if (tap == taps_.end() || !node || !sink_ || !mover_.isMoved(nodeId)) return;
  if (!graph_.linkedElsewhere(nodeId, sink_->id)) return;
  const std::string& name = node->appName.empty() ? node->name : node->appName;
  log_.notice(formatString("capture: stream %u of \"%s\" refuses to move into the tap (node.dont-reconnect=%s)", nodeId,
                           name.c_str(), node->dontReconnect.c_str()));
  auto& unmovable = tap->second.unmovable;
  if (std::ranges::find(unmovable, name) == unmovable.end()) unmovable.push_back(name);
}

void PrivateSink::metadataGone(bool tapsWaiting) {
  mover_.reset();
  moveChecks_.clear();
  if (!tapsWaiting) return;
  for (auto& [id, tap] : taps_) tap.unmovable.clear();
  if (!sink_) return;
  // A sink that has run is never configured again by a new WirePlumber 0.4, whose policy then waits for it and
  // links nothing at all: a fresh one, which the session manager configures when it comes, replaces it.
  const auto rate = sink_->rate;
  destroy();
  (void)create(rate);
}

void PrivateSink::rebuild(std::uint32_t rate) {
  if (sink_) {
    sink_->announced = false;
    checkReady();
  } else if (!taps_.empty()) {
    (void)create(rate);
  }
}

void PrivateSink::coreError(std::uint32_t id, int res) {
  if (sink_ && sink_->proxy && pw_proxy_get_id(sink_->proxy.get()) == id) sink_->error = res;
}

void PrivateSink::drop() {
  moveChecks_.clear();
  mover_.reset();
  destroy();
}

std::optional<PrivateSink::TimePoint> PrivateSink::nextDeadline(TimePoint now) const {
  std::optional<TimePoint> next = mover_.nextDeadline();
  auto consider = [&](TimePoint at) {
    if (!next || at < *next) next = at;
  };
  if (closeBy_) return sink_ ? std::optional(now + kUnlinkPoll) : std::nullopt;
  for (const auto& check : moveChecks_) consider(check.at);
  if (sink_ && taps_.empty() && sink_->idleSince)
    consider(std::max(*sink_->idleSince + StreamMover::kGrace, now + kUnlinkPoll));
  return next;
}

std::vector<std::uint32_t> PrivateSink::onTimer(TimePoint now) {
  auto givenBack = mover_.expire(now);

  auto checks = std::exchange(moveChecks_, {});
  for (const auto& check : checks) {
    if (check.at <= now) checkMoved(check.tap, check.node);
    else moveChecks_.push_back(check);
  }
  if (sink_ && taps_.empty() && sink_->idleSince && now >= *sink_->idleSince + StreamMover::kGrace) {
    // Destroy the sink once the given-back streams are relinked elsewhere (or after a bound).
    if (!graph_.hasLinks(sink_->id, false) || now >= *sink_->idleSince + StreamMover::kGrace + kRelinkTimeout)
      destroy();
  }
  return givenBack;
}

void PrivateSink::close(std::chrono::milliseconds timeout) {
  mover_.restoreAll();
  (void)connection_.roundTrip(timeout);
  if (sink_ && sink_->id != SPA_ID_INVALID) {
    const auto id = sink_->id;
    connection_.waitUntil([&] { return !graph_.hasLinks(id, false); }, timeout);
  }
  destroy();
}

void PrivateSink::beginClose(TimePoint by) {
  mover_.restoreAll();
  moveChecks_.clear();
  closeBy_ = by;
}

bool PrivateSink::closeStep(TimePoint now) {
  if (sink_ && sink_->id != SPA_ID_INVALID && graph_.hasLinks(sink_->id, false) && now < *closeBy_) return false;
  destroy();
  return true;
}

std::optional<MetadataValue> PrivateSink::read(std::uint32_t node, std::string_view key) {
  return graph_.readDefault(node, key);
}

void PrivateSink::write(std::uint32_t node, std::string_view key, const std::optional<MetadataValue>& value) {
  graph_.writeDefault(node, key, value);
}

}  // namespace brontide::linux::pipewire
