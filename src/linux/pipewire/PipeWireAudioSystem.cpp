#include "linux/pipewire/PipeWireAudioSystem.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <utility>

#include "base/Format.h"

namespace brontide::linux::pipewire {
namespace {

using namespace std::chrono_literals;

constexpr auto kSinkTimeout = 2000ms;
// The main thread waits this long at most for each first round trip; a slower daemon's objects reach the live
// mirror later, and the next look-up finds them.
constexpr auto kSettleWait = 20ms;
constexpr auto kRelinkTimeout = 250ms;
constexpr std::uint32_t kChannels = 2;

AudioStreamBasicDescription stereoFloat(std::uint32_t rate) {
  return AudioStreamBasicDescription{double(rate), kAudioFormatLinearPCM,
                                     kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked, 4 * kChannels, 1,
                                     4 * kChannels, kChannels, 32, 0};
}

// PipeWire's result codes are negative errno values.
Error pwFailure(ErrorCode code, int res) { return Error{code, std::strerror(-res)}; }

timespec monotonic(std::chrono::steady_clock::time_point at) {
  auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(at.time_since_epoch()).count();
  return timespec{time_t(ns / 1000000000), long(ns % 1000000000)};
}

}  // namespace

// One open tap; the system outlives it.
class PipeWireAudioSystem::Tap final : public AudioTap {
 public:
  Tap(PipeWireAudioSystem& system, std::uint64_t id, bool global, std::uint32_t rate)
      : system_(system), id_(id), global_(global), rate_(rate) {}
  ~Tap() override { system_.closeTap(id_, capture_); }

  std::optional<AudioStreamBasicDescription> format() const override {
    if (rate_ == 0) return std::nullopt;
    return stereoFloat(rate_);
  }

  std::expected<void, Error> createCapture(const std::string& output) override {
    auto& captures = system_.captures_;
    if (!captures || !captures->connected())
      return std::unexpected(pwFailure(ErrorCode::CaptureNotCreated,
                                     captures && captures->lastError() ? captures->lastError() : -ENOTCONN));
    if (rate_ == 0) return std::unexpected(pwFailure(ErrorCode::CaptureNotCreated, -ENOENT));
    // A global tap captures the default output as it is; the others, the private sink.
    auto capture = captures->create(global_ ? output : system_.sink_.name(), global_, rate_);
    if (!capture) return std::unexpected(pwFailure(ErrorCode::CaptureNotCreated, capture.error()));
    capture_ = *capture;
    return {};
  }

  std::expected<void, Error> startCapture(CaptureCallback proc) override {
    if (!capture_) return std::unexpected(pwFailure(ErrorCode::CaptureNotStarted, -ENOENT));
    if (const int res = system_.captures_->start(*capture_, std::move(proc)); res < 0)
      return std::unexpected(pwFailure(ErrorCode::CaptureNotStarted, res));
    return {};
  }

  std::vector<std::string> unmovableApplications() const override {
    if (global_ || !system_.connection_.connected()) return {};
    LoopLock lock(system_.connection_.threadLoop());
    return system_.sink_.unmovableApplications(id_);
  }

  std::optional<Error> failure() const override {
    if (global_ || !system_.connection_.connected()) return std::nullopt;
    LoopLock lock(system_.connection_.threadLoop());
    const auto it = system_.taps_.find(id_);
    if (it == system_.taps_.end() || it->second.error == 0) return std::nullopt;
    return pwFailure(ErrorCode::TapNotOpened, it->second.error);
  }

 private:
  PipeWireAudioSystem& system_;
  std::uint64_t id_;
  bool global_;
  std::uint32_t rate_;
  std::optional<std::uint64_t> capture_;
};

PipeWireAudioSystem::PipeWireAudioSystem(Log& log, Options options)
    : log_(log),
      options_(std::move(options)),
      lookups_(options_.lookups ? *options_.lookups : procIdentityLookups()),
      connection_("brontide.pw", pw_properties_new(PW_KEY_APP_NAME, "Brontide", nullptr)),
      sink_(connection_, graph_, log_, options_.sinkName, options_.sinkDescription) {
  if (!connection_.connected()) {
    log_.notice(formatString("pipewire: cannot connect (%s)", std::strerror(-connection_.lastError())));
    return;
  }
  captures_ = std::make_unique<CaptureStreams>(log_);
  LoopLock lock(connection_.threadLoop());
  connections_ = 1;
  sink_.onReady = [this] {
    // A capture stream made before the sink existed waits for it; after a session manager restart the existing
    // capture streams are linked by hand instead.
    if (!closing_ && !repair_.active() && captures_) captures_->reconnectAll(graph_.defaultSinkName().value_or(""));
  };
  graph_.attach();
  timer_ = LoopSource(connection_.loop(), pw_loop_add_timer(connection_.loop(), &PipeWireAudioSystem::onTimer, this));
  connection_.onError = [this](std::uint32_t id, int res, const std::string& message) { coreError(id, res, message); };
  // Two round trips: the first brings the globals, the second the info of the objects bound meanwhile.
  (void)connection_.roundTrip(kSettleWait);
  (void)connection_.roundTrip(kSettleWait);
}

PipeWireAudioSystem::~PipeWireAudioSystem() {
  if (!closeCaptures()) return;
  LoopLock lock(connection_.threadLoop());
  // Give the streams back while the sink still lives, then let the session manager relink them.
  if (!closed_) sink_.close(kRelinkTimeout);
  repair_.reset();
  timer_.reset();
  graph_.detach();
}

// The captures go first, outside this loop's lock; the loop's callbacks no longer reach them once closing. Whether
// there is a daemon left to close the rest with.
bool PipeWireAudioSystem::closeCaptures() {
  if (connection_.connected()) {
    LoopLock lock(connection_.threadLoop());
    closing_ = true;
  }
  captures_.reset();
  return connection_.connected();
}

void PipeWireAudioSystem::shutdown(std::function<void()> done) {
  if (!closeCaptures()) {
    done();
    return;
  }
  LoopLock lock(connection_.threadLoop());
  // The same bound as the destructor's two waits.
  sink_.beginClose(std::chrono::steady_clock::now() + 2 * kRelinkTimeout);
  shutdownDone_ = std::move(done);
  // No sink, or nothing linked to it: done at once.
  stepShutdown();
}

// Loop thread or its lock: ends the shutdown once the sink has closed, or looks again at its next deadline.
void PipeWireAudioSystem::stepShutdown() {
  if (!sink_.closeStep(std::chrono::steady_clock::now())) {
    armTimer();
    return;
  }
  closed_ = true;
  std::exchange(shutdownDone_, nullptr)();
}

void PipeWireAudioSystem::coreError(std::uint32_t id, int res, const std::string& message) {
  if (id == PW_ID_CORE) log_.notice(formatString("pipewire: %s (%d)", message.c_str(), res));
  if (id == PW_ID_CORE && res == -EPIPE && !closing_ && !reconnectAt_) {
    log_.notice("pipewire: the sound server has gone; reconnecting");
    reconnectAt_ = std::chrono::steady_clock::now() + reconnectDelay_;
    armTimer();
  }
  sink_.coreError(id, res);
  checkPendingTaps(std::chrono::steady_clock::now());
}

void PipeWireAudioSystem::checkPendingTaps(TimePoint now) {
  for (auto& [id, tap] : taps_) {
    if (!tap.readyBy) continue;
    if (sink_.ready() || rebuildPending_) {
      tap.readyBy.reset();
      continue;
    }
    if (sink_.exists() && sink_.error() == 0 && now < *tap.readyBy) continue;
    tap.error = sink_.exists() && sink_.error() ? sink_.error() : -ETIMEDOUT;
    tap.readyBy.reset();
    sink_.discard(id);
  }
}

void PipeWireAudioSystem::reconnectDaemon() {
  // Every proxy of the old core goes before the core itself. Taps made before stay recorded until their owners
  // close them; their objects went with the server.
  sink_.drop();
  repair_.reset();
  graph_.detach();
  rebuildPending_ = false;
  if (const int res = connection_.reconnect(); res < 0) {
    reconnectDelay_ = std::min(reconnectDelay_ * 2, std::chrono::milliseconds(4000));
    reconnectAt_ = std::chrono::steady_clock::now() + reconnectDelay_;
    return;
  }
  reconnectAt_.reset();
  reconnectDelay_ = 250ms;
  ++connections_;
  graph_.attach();
  log_.notice("pipewire: reconnected to the sound server");
}

bool PipeWireAudioSystem::available() const {
  if (!connection_.connected()) return false;
  LoopLock lock(connection_.threadLoop());
  return !connection_.daemonGone();
}

std::uint64_t PipeWireAudioSystem::connections() const {
  if (!connection_.connected()) return 0;
  LoopLock lock(connection_.threadLoop());
  return connections_;
}

bool PipeWireAudioSystem::reconnectNow() {
  if (!captures_) return false;  // never connected: there is no loop to reconnect on
  LoopLock lock(connection_.threadLoop());
  if (!connection_.daemonGone()) return connection_.connected();
  // The hang-up is still on its way to the loop thread, which reconnects on its own once it arrives.
  if (!reconnectAt_ || closing_) return false;
  reconnectDaemon();
  armTimer();
  if (reconnectAt_) return false;
  // As at construction: the first round trip brings the globals, the second the info of the objects bound meanwhile.
  (void)connection_.roundTrip(kSettleWait);
  (void)connection_.roundTrip(kSettleWait);
  return true;
}

std::int32_t PipeWireAudioSystem::ownPid() const { return std::int32_t(::getpid()); }

std::vector<AudioClient> PipeWireAudioSystem::audioClients() {
  struct Raw {
    AudioObjectID serial;
    AudioProperties client;
    std::vector<AudioProperties> streams;
  };
  std::vector<Raw> raw;
  if (!connection_.connected()) return {};
  {
    // Copies under the lock; the identity's file look-ups run after it.
    LoopLock lock(connection_.threadLoop());
    std::vector<const Client*> clients;
    for (const auto& [id, client] : graph_.clients())
      if (client.serial) clients.push_back(&client);
    std::ranges::sort(clients, {}, &Client::order);
    std::map<std::uint32_t, std::size_t> byId;
    for (const Client* client : clients) {
      byId[client->id] = raw.size();
      raw.push_back(Raw{*client->serial, client->props, {}});
    }
    for (const Node* node : graph_.outputStreams()) {
      if (auto it = node->client ? byId.find(*node->client) : byId.end(); it != byId.end())
        raw[it->second].streams.push_back(node->props);
    }
  }
  std::vector<AudioClient> clients;
  clients.reserve(raw.size());
  static const AudioProperties kNone;
  for (const auto& r : raw) {
    AudioClient client;
    client.object = r.serial;
    const AudioProperties& firstStream = r.streams.empty() ? kNone : r.streams.front();
    client.pid = applicationPid(firstStream, r.client);
    auto name = [](const AudioProperties& props) {
      auto it = props.find(std::string_view(PW_KEY_APP_NAME));
      return it == props.end() ? std::string{} : it->second;
    };
    client.name = name(firstStream);
    if (client.name.empty()) client.name = name(r.client);
    for (const auto& stream : r.streams) client.streamIdentities.push_back(applicationIdentity(stream, r.client, lookups_));
    client.identity = client.streamIdentities.empty() ? applicationIdentity(kNone, r.client, lookups_)
                                                      : client.streamIdentities.front();
    clients.push_back(std::move(client));
  }
  return clients;
}

std::expected<std::unique_ptr<AudioTap>, Error> PipeWireAudioSystem::openTap(
    const std::vector<AudioObjectID>& clients, bool global) {
  if (!connection_.connected())
    return std::unexpected(
        pwFailure(ErrorCode::TapNotOpened, connection_.lastError() ? connection_.lastError() : -ENOTCONN));
  LoopLock lock(connection_.threadLoop());
  if (connection_.daemonGone()) return std::unexpected(pwFailure(ErrorCode::TapNotOpened, -EPIPE));
  // Shutting down: nothing is moved again once the streams went back.
  if (closing_) return std::unexpected(pwFailure(ErrorCode::TapNotOpened, -ECANCELED));
  const std::uint32_t rate = sink_.exists() ? sink_.rate() : graph_.rate();
  const auto id = ++nextTap_;
  // A global tap captures the default output as it is and moves nothing.
  if (global) {
    taps_[id] = TapState{.global = true, .rate = rate};
    return std::make_unique<Tap>(*this, id, true, rate);
  }
  if (rate == 0) return std::unexpected(Error{ErrorCode::RateUnknown, {}});
  if (const int res = sink_.add(id, {clients.begin(), clients.end()}, rate); res < 0)
    return std::unexpected(pwFailure(ErrorCode::TapNotOpened, res));
  taps_[id] = TapState{.global = false, .rate = rate};
  // Nobody waits for the sink: a capture stream made meanwhile waits for it, and one that is not ready in time
  // becomes the tap's failure().
  if (!sink_.ready() && !rebuildPending_) taps_[id].readyBy = std::chrono::steady_clock::now() + kSinkTimeout;
  armTimer();
  return std::make_unique<Tap>(*this, id, false, rate);
}

void PipeWireAudioSystem::closeTap(std::uint64_t id, std::optional<std::uint64_t> capture) {
  // The capture goes first, outside this loop's lock: its procedure may be waiting on its own loop's.
  if (capture && captures_) captures_->destroy(*capture);
  if (!connection_.connected()) return;
  LoopLock lock(connection_.threadLoop());
  const auto it = taps_.find(id);
  if (it == taps_.end()) return;
  const bool keptNothing = it->second.global || it->second.error != 0;
  taps_.erase(it);
  if (keptNothing) return;
  // The streams and the sink outlive the tap by a grace period, so a tap that replaces this one takes them over
  // without a blip; the timer gives them back after it.
  sink_.remove(id, std::chrono::steady_clock::now());
  armTimer();
}

std::optional<std::string> PipeWireAudioSystem::defaultOutput() {
  if (!connection_.connected()) return std::nullopt;
  LoopLock lock(connection_.threadLoop());
  auto name = graph_.defaultSinkName();
  if (!name) return std::nullopt;
  const Node* node = graph_.nodeByName(*name);
  if (!node || node->mediaClass != "Audio/Sink" || !node->serial || node->name.empty()) return std::nullopt;
  return node->name;
}

std::optional<std::uint32_t> PipeWireAudioSystem::tapSinkNode() const {
  if (!connection_.connected()) return std::nullopt;
  LoopLock lock(connection_.threadLoop());
  return sink_.node();
}

// ---- graph events, on the loop thread ----------------------------------------------------------------------

void PipeWireAudioSystem::nodeChanged(const Node& node) {
  if (closing_) return;
  sink_.nodeChanged(node);
  armTimer();
}

void PipeWireAudioSystem::clientChanged(const Client&) {
  if (closing_) return;
  sink_.clientChanged();
  armTimer();
}

void PipeWireAudioSystem::portAdded(const Port& port) {
  if (closing_) return;
  sink_.portAdded(port);
  armTimer();
}

void PipeWireAudioSystem::nodeRemoved(std::uint32_t node) {
  if (!closing_) sink_.nodeRemoved(node);
}

void PipeWireAudioSystem::defaultSinkPublished() {
  // The session manager is back once it publishes a default sink again: rebuild what its exit broke.
  if (closing_ || !rebuildPending_) return;
  rebuildPending_ = false;
  log_.notice("capture: session manager is back; rebuilding the tap");
  repair_.start(std::chrono::steady_clock::now());
  sink_.rebuild(taps_.empty() ? graph_.rate() : taps_.begin()->second.rate);
  armTimer();
}

void PipeWireAudioSystem::defaultMetadataGone() {
  if (closing_) return;
  // Its keys went with it: nothing to restore. The session manager's links went too; once it is back the
  // streams are moved and the capture streams linked again. The sink stays: the session manager restores our
  // target on the apps' streams at once, and a missing target makes it fail those streams.
  sink_.metadataGone(!taps_.empty());
  if (taps_.empty()) return;
  log_.notice("capture: session manager gone; the tap waits for it");
  rebuildPending_ = true;
}

void PipeWireAudioSystem::onTimer(void* data, std::uint64_t) {
  auto* self = static_cast<PipeWireAudioSystem*>(data);
  if (self->closing_) {
    if (self->shutdownDone_) self->stepShutdown();
    return;
  }
  const auto now = std::chrono::steady_clock::now();
  if (self->reconnectAt_ && *self->reconnectAt_ <= now) {
    self->reconnectDaemon();
  } else {
    self->checkPendingTaps(now);
    self->repair_.givenBack(self->sink_.onTimer(now), now);
    self->repair_.onTimer(now, self->sink_, self->captures_.get(), !self->taps_.empty());
  }
  self->armTimer();
  self->connection_.signal();
}

void PipeWireAudioSystem::armTimer() {
  if (!timer_) return;
  const auto now = std::chrono::steady_clock::now();
  std::optional<TimePoint> next = sink_.nextDeadline(now);
  // A shutdown waits for the sink alone.
  if (closing_) {
    if (!shutdownDone_) next.reset();
  } else {
    for (auto at : {repair_.nextDeadline(), reconnectAt_})
      if (at && (!next || *at < *next)) next = at;
    for (const auto& [id, tap] : taps_)
      if (tap.readyBy && (!next || *tap.readyBy < *next)) next = tap.readyBy;
  }
  if (!next) {
    pw_loop_update_timer(connection_.loop(), timer_.get(), nullptr, nullptr, false);
    return;
  }
  timespec at = monotonic(*next);
  if (at.tv_sec == 0 && at.tv_nsec == 0) at.tv_nsec = 1;
  pw_loop_update_timer(connection_.loop(), timer_.get(), &at, nullptr, true);
}

}  // namespace brontide::linux::pipewire
