#include "linux/pipewire/PipeWireAudioSystem.h"

#include <pipewire/extensions/metadata.h>
#include <spa/param/audio/format-utils.h>
#include <spa/utils/json.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <utility>

#include "base/Format.h"

namespace brontide::pw {
namespace {

using namespace std::chrono_literals;

constexpr auto kSinkTimeout = 2000ms;
constexpr auto kMoveCheckDelay = 200ms;
constexpr auto kRelinkTimeout = 250ms;
constexpr auto kUnlinkPoll = 5ms;
constexpr std::uint32_t kChannels = 2;
constexpr std::size_t kMaxBuffers = 8;

std::string text(const char* value) { return value ? value : ""; }

std::string property(const AudioProperties& props, std::string_view key) {
  auto it = props.find(key);
  return it == props.end() ? std::string{} : it->second;
}

std::optional<std::uint32_t> numberProperty(const AudioProperties& props, std::string_view key) {
  auto value = property(props, key);
  if (value.empty()) return std::nullopt;
  char* end = nullptr;
  errno = 0;
  unsigned long long number = std::strtoull(value.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || number > 0xFFFFFFFFull) return std::nullopt;
  return std::uint32_t(number);
}

void merge(AudioProperties& into, const spa_dict* dict) {
  if (!dict) return;
  const spa_dict_item* item;
  spa_dict_for_each(item, dict) {
    if (item->key) into[item->key] = text(item->value);
  }
}

// {"name":"headless_out"} → headless_out
std::optional<std::string> jsonName(const std::string& value) {
  spa_json it[2];
  spa_json_init(&it[0], value.data(), value.size());
  if (spa_json_enter_object(&it[0], &it[1]) <= 0) return std::nullopt;
  char key[64];
  while (spa_json_get_string(&it[1], key, sizeof key) > 0) {
    if (std::strcmp(key, "name") == 0) {
      std::string name(value.size() + 1, '\0');
      if (spa_json_get_string(&it[1], name.data(), int(name.size())) <= 0) return std::nullopt;
      name.resize(std::strlen(name.c_str()));
      return name;
    }
    const char* skipped;
    if (spa_json_next(&it[1], &skipped) <= 0) break;
  }
  return std::nullopt;
}

AudioStreamBasicDescription stereoFloat(std::uint32_t rate) {
  return AudioStreamBasicDescription{double(rate), kAudioFormatLinearPCM,
                                     kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked, 4 * kChannels, 1,
                                     4 * kChannels, kChannels, 32, 0};
}

timespec monotonic(std::chrono::steady_clock::time_point at) {
  auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(at.time_since_epoch()).count();
  return timespec{time_t(ns / 1000000000), long(ns % 1000000000)};
}

}  // namespace

struct PipeWireAudioSystem::Object {
  PipeWireAudioSystem* owner;
  std::uint32_t id;
  bool isNode;
  std::uint64_t order;
  AudioProperties props;
  PwProxy proxy;
  HookGuard listener;
};

struct PipeWireAudioSystem::Metadata {
  PipeWireAudioSystem* owner;
  std::uint32_t id;
  std::string name;
  PwProxy proxy;
  HookGuard listener;
  std::map<std::pair<std::uint32_t, std::string>, MetadataValue> values;

  [[nodiscard]] pw_metadata* metadata() const { return reinterpret_cast<pw_metadata*>(proxy.get()); }
};

struct PipeWireAudioSystem::Sink {
  std::uint32_t rate = 0;
  std::uint32_t id = SPA_ID_INVALID;
  int error = 0;
  int refs = 0;
  bool announced = false;
  std::optional<TimePoint> idleSince;
  PwProxy proxy;
  HookGuard listener;
};

struct PipeWireAudioSystem::Tap {
  AudioObjectID id;
  bool global;
  std::set<AudioObjectID> clients;
  std::string uuid;
  std::uint32_t rate;
  std::vector<std::string> unmovable;
};

// A capture stream; its callbacks run on "brontide.tap.io".
struct PipeWireAudioSystem::Aggregate {
  PipeWireAudioSystem* owner;
  AudioObjectID id;
  AudioObjectID tap;
  bool global;
  std::string target;
  std::uint32_t rate;
  PwStream stream;
  HookGuard listener;
  IOProc proc;
  std::optional<IOProcID> procID;
  bool connected = false;
  AudioBuffer buffers[kMaxBuffers];
};

PipeWireAudioSystem::PipeWireAudioSystem(Log& log, Options options)
    : log_(log), options_(std::move(options)), lookups_(options_.lookups ? *options_.lookups : systemIdentityLookups()) {
  connection_ = std::make_unique<PwConnection>(
      "brontide.pw", pw_properties_new(PW_KEY_APP_NAME, "Brontide", nullptr));
  if (!connection_->connected()) {
    log_.notice(formatString("pipewire: cannot connect (%s)", std::strerror(-connection_->lastError())));
    return;
  }
  io_ = std::make_unique<PwConnection>("brontide.tap.io", pw_properties_new(PW_KEY_APP_NAME, "Brontide", nullptr));
  if (!io_->connected()) log_.notice(formatString("pipewire: capture connection failed (%s)", std::strerror(-io_->lastError())));

  LoopLock lock(connection_->threadLoop());
  connections_ = 1;
  addRegistry();
  timer_ = pw_loop_add_timer(connection_->loop(), &PipeWireAudioSystem::onTimer, this);
  connection_->onError = [this](std::uint32_t id, int res, const std::string& message) {
    if (id == PW_ID_CORE) log_.notice(formatString("pipewire: %s (%d)", message.c_str(), res));
    if (id == PW_ID_CORE && res == -EPIPE && !closing_ && !reconnectAt_) {
      log_.notice("pipewire: the sound server has gone; reconnecting");
      reconnectAt_ = std::chrono::steady_clock::now() + reconnectDelay_;
      armTimer();
    }
    if (sink_ && sink_->proxy && pw_proxy_get_id(sink_->proxy.get()) == id) sink_->error = res;
  };
  // Two round trips: the first brings the globals, the second the info of the objects bound meanwhile.
  (void)connection_->roundTrip(kSinkTimeout);
  (void)connection_->roundTrip(kSinkTimeout);
}

PipeWireAudioSystem::~PipeWireAudioSystem() {
  if (!connection_ || !connection_->connected()) return;
  if (io_) {
    std::map<AudioObjectID, std::unique_ptr<Aggregate>> aggregates;
    {
      LoopLock lock(io_->threadLoop());
      aggregates.swap(aggregates_);
      for (auto& [id, aggregate] : aggregates) {
        aggregate->listener.remove();
        aggregate->stream.reset();
      }
    }
  }
  {
    LoopLock lock(connection_->threadLoop());
    closing_ = true;
    // Give the streams back while the sink still lives, then let the session manager relink them.
    mover_.restoreAll();
    (void)connection_->roundTrip(kRelinkTimeout);
    waitForSinkUnlinked(kRelinkTimeout);
    destroySink();
    ownLinks_.clear();
    taps_.clear();
    if (timer_) pw_loop_destroy_source(connection_->loop(), timer_);
    timer_ = nullptr;
    defaultMetadata_.reset();
    settingsMetadata_.reset();
    objects_.clear();
    registryListener_.remove();
    if (registry_) pw_proxy_destroy(reinterpret_cast<pw_proxy*>(registry_));
    registry_ = nullptr;
  }
  io_.reset();
  connection_.reset();
}

void PipeWireAudioSystem::addRegistry() {
  static const pw_registry_events kRegistryEvents = [] {
    pw_registry_events events{};
    events.version = PW_VERSION_REGISTRY_EVENTS;
    events.global = &PipeWireAudioSystem::onGlobal;
    events.global_remove = &PipeWireAudioSystem::onGlobalRemove;
    return events;
  }();
  registry_ = pw_core_get_registry(connection_->core(), PW_VERSION_REGISTRY, 0);
  if (registry_) pw_registry_add_listener(registry_, registryListener_.arm(), &kRegistryEvents, this);
}

void PipeWireAudioSystem::reconnectDaemon() {
  // Every proxy of the old core goes before the core itself. Taps made before stay recorded until
  // their owners stop them; their objects went with the server.
  moveChecks_.clear();
  mover_.reset();
  ownLinks_.clear();
  givenBack_.clear();
  destroySink();
  defaultMetadata_.reset();
  settingsMetadata_.reset();
  objects_.clear();
  ports_.clear();
  links_.clear();
  registryListener_.remove();
  if (registry_) pw_proxy_destroy(reinterpret_cast<pw_proxy*>(registry_));
  registry_ = nullptr;
  rebuildPending_ = false;
  linksByHand_ = false;
  nextLinkCheck_.reset();
  if (const int res = connection_->reconnect(); res < 0) {
    reconnectDelay_ = std::min(reconnectDelay_ * 2, std::chrono::milliseconds(4000));
    reconnectAt_ = std::chrono::steady_clock::now() + reconnectDelay_;
    return;
  }
  reconnectAt_.reset();
  reconnectDelay_ = std::chrono::milliseconds(250);
  ++connections_;
  addRegistry();
  log_.notice("pipewire: reconnected to the sound server");
}

bool PipeWireAudioSystem::available() const {
  if (!connection_ || !connection_->connected()) return false;
  LoopLock lock(connection_->threadLoop());
  return !connection_->daemonGone();
}

std::uint64_t PipeWireAudioSystem::connections() const {
  if (!connection_ || !connection_->connected()) return 0;
  LoopLock lock(connection_->threadLoop());
  return connections_;
}

std::int32_t PipeWireAudioSystem::ownPid() const { return std::int32_t(::getpid()); }

// ---- mirror ----------------------------------------------------------------------------------------

void PipeWireAudioSystem::onGlobal(void* data, std::uint32_t id, std::uint32_t, const char* type, std::uint32_t version,
                                   const spa_dict* props) {
  auto* self = static_cast<PipeWireAudioSystem*>(data);
  if (self->closing_ || !type) return;
  if (std::strcmp(type, PW_TYPE_INTERFACE_Node) == 0 || std::strcmp(type, PW_TYPE_INTERFACE_Client) == 0) {
    self->bindObject(id, type, version, props);
  } else if (std::strcmp(type, PW_TYPE_INTERFACE_Port) == 0) {
    const char* node = props ? spa_dict_lookup(props, PW_KEY_NODE_ID) : nullptr;
    if (node) {
      const char* direction = spa_dict_lookup(props, PW_KEY_PORT_DIRECTION);
      const char* channel = spa_dict_lookup(props, PW_KEY_AUDIO_CHANNEL);
      self->ports_[id] = Port{std::uint32_t(std::strtoul(node, nullptr, 10)), direction && std::strcmp(direction, "out") == 0,
                              text(channel)};
      self->checkSinkReady();
    }
  } else if (std::strcmp(type, PW_TYPE_INTERFACE_Link) == 0) {
    const char* out = props ? spa_dict_lookup(props, PW_KEY_LINK_OUTPUT_NODE) : nullptr;
    const char* in = props ? spa_dict_lookup(props, PW_KEY_LINK_INPUT_NODE) : nullptr;
    if (out && in)
      self->links_[id] = Link{std::uint32_t(std::strtoul(out, nullptr, 10)), std::uint32_t(std::strtoul(in, nullptr, 10))};
  } else if (std::strcmp(type, PW_TYPE_INTERFACE_Metadata) == 0) {
    const char* name = props ? spa_dict_lookup(props, PW_KEY_METADATA_NAME) : nullptr;
    if (name && (std::strcmp(name, "default") == 0 || std::strcmp(name, "settings") == 0))
      self->bindMetadata(id, version, name);
  }
  self->connection_->signal();
}

void PipeWireAudioSystem::onGlobalRemove(void* data, std::uint32_t id) {
  auto* self = static_cast<PipeWireAudioSystem*>(data);
  if (self->closing_) return;
  if (auto it = self->objects_.find(id); it != self->objects_.end()) {
    if (it->second->isNode) self->mover_.forget(id);
    self->objects_.erase(it);
  }
  self->ports_.erase(id);
  self->links_.erase(id);
  if (self->defaultMetadata_ && self->defaultMetadata_->id == id) self->defaultMetadataGone();
  if (self->settingsMetadata_ && self->settingsMetadata_->id == id) self->settingsMetadata_.reset();
  self->connection_->signal();
}

void PipeWireAudioSystem::bindObject(std::uint32_t id, const char* type, std::uint32_t, const spa_dict* props) {
  const bool isNode = std::strcmp(type, PW_TYPE_INTERFACE_Node) == 0;
  auto object = std::make_unique<Object>();
  object->owner = this;
  object->id = id;
  object->isNode = isNode;
  object->order = nextOrder_++;
  merge(object->props, props);
  // Registry events carry only some properties: bind to read the full info (application.id and more).
  object->proxy.reset(static_cast<pw_proxy*>(
      pw_registry_bind(registry_, id, type, isNode ? PW_VERSION_NODE : PW_VERSION_CLIENT, 0)));
  if (!object->proxy) return;
  if (isNode) {
    static const pw_node_events kEvents = [] {
      pw_node_events events{};
      events.version = PW_VERSION_NODE_EVENTS;
      events.info = [](void* data, const pw_node_info* info) {
        auto* o = static_cast<Object*>(data);
        if (!(info->change_mask & PW_NODE_CHANGE_MASK_PROPS)) return;
        merge(o->props, info->props);
        o->owner->objectPropsChanged(*o);
      };
      return events;
    }();
    pw_node_add_listener(reinterpret_cast<pw_node*>(object->proxy.get()), object->listener.arm(), &kEvents, object.get());
  } else {
    static const pw_client_events kEvents = [] {
      pw_client_events events{};
      events.version = PW_VERSION_CLIENT_EVENTS;
      events.info = [](void* data, const pw_client_info* info) {
        auto* o = static_cast<Object*>(data);
        if (!(info->change_mask & PW_CLIENT_CHANGE_MASK_PROPS)) return;
        merge(o->props, info->props);
        o->owner->objectPropsChanged(*o);
      };
      return events;
    }();
    pw_client_add_listener(reinterpret_cast<pw_client*>(object->proxy.get()), object->listener.arm(), &kEvents,
                           object.get());
  }
  objects_[id] = std::move(object);
}

void PipeWireAudioSystem::bindMetadata(std::uint32_t id, std::uint32_t, const std::string& name) {
  auto metadata = std::make_unique<Metadata>();
  metadata->owner = this;
  metadata->id = id;
  metadata->name = name;
  metadata->proxy.reset(
      static_cast<pw_proxy*>(pw_registry_bind(registry_, id, PW_TYPE_INTERFACE_Metadata, PW_VERSION_METADATA, 0)));
  if (!metadata->proxy) return;
  static const pw_metadata_events kEvents = [] {
    pw_metadata_events events{};
    events.version = PW_VERSION_METADATA_EVENTS;
    events.property = [](void* data, std::uint32_t subject, const char* key, const char* type, const char* value) {
      auto* m = static_cast<Metadata*>(data);
      m->owner->metadataChanged(*m, subject, key, type, value);
      return 0;
    };
    return events;
  }();
  pw_metadata_add_listener(metadata->metadata(), metadata->listener.arm(), &kEvents, metadata.get());
  (name == "default" ? defaultMetadata_ : settingsMetadata_) = std::move(metadata);
}

void PipeWireAudioSystem::objectPropsChanged(Object& object) {
  if (object.isNode) {
    if (property(object.props, PW_KEY_MEDIA_CLASS) != "Stream/Output/Audio") return;
    for (auto& [id, tap] : taps_)
      if (!tap->global) moveStream(*tap, object);
  } else {
    // A client's info may arrive after its nodes': look at them again.
    for (auto& [id, tap] : taps_) {
      if (!tap->global) moveStreams(*tap);
    }
  }
  connection_->signal();
}

void PipeWireAudioSystem::metadataChanged(Metadata& metadata, std::uint32_t subject, const char* key, const char* type,
                                          const char* value) {
  if (!key) {
    std::erase_if(metadata.values, [subject](const auto& entry) { return entry.first.first == subject; });
  } else if (!value) {
    metadata.values.erase({subject, key});
  } else {
    metadata.values[{subject, key}] = MetadataValue{text(type), value};
  }
  // The session manager is back once it publishes a default sink again: rebuild what its exit broke.
  if (&metadata == defaultMetadata_.get() && rebuildPending_ && subject == 0 && key &&
      std::strcmp(key, "default.audio.sink") == 0 && value) {
    rebuildPending_ = false;
    int nonGlobal = 0;
    for (auto& [id, tap] : taps_) nonGlobal += tap->global ? 0 : 1;
    log_.notice("capture: session manager is back; rebuilding the tap");
    linksByHand_ = true;
    nextLinkCheck_ = std::chrono::steady_clock::now() + 300ms;
    armTimer();
    if (sink_) {
      sink_->announced = false;
      checkSinkReady();
    } else if (nonGlobal > 0 && createSink(taps_.begin()->second->rate) == 0) {
      sink_->refs = nonGlobal;
    }
  }
  connection_->signal();
}

void PipeWireAudioSystem::defaultMetadataGone() {
  defaultMetadata_.reset();
  // Its keys went with it: nothing to restore. The session manager's links went too; once it is back
  // the streams are moved and the capture streams linked again. The sink stays: the session manager
  // restores our target on the apps' streams at once, and a missing target makes it fail those streams.
  mover_.reset();
  moveChecks_.clear();
  if (taps_.empty()) return;
  log_.notice("capture: session manager gone; the tap waits for it");
  for (auto& [id, tap] : taps_) tap->unmovable.clear();
  if (sink_) sink_->announced = false;
  rebuildPending_ = true;
}

std::uint32_t PipeWireAudioSystem::graphRate() const {
  if (!settingsMetadata_) return 0;
  for (const char* key : {"clock.force-rate", "clock.rate"}) {
    auto it = settingsMetadata_->values.find({0u, key});
    if (it == settingsMetadata_->values.end()) continue;
    auto rate = std::strtoul(it->second.value.c_str(), nullptr, 10);
    if (rate > 0 && rate <= 768000) return std::uint32_t(rate);
  }
  return 0;
}

std::optional<std::string> PipeWireAudioSystem::defaultSinkName() const {
  if (!defaultMetadata_) return std::nullopt;
  auto it = defaultMetadata_->values.find({0u, "default.audio.sink"});
  if (it == defaultMetadata_->values.end()) return std::nullopt;
  return jsonName(it->second.value);
}

const PipeWireAudioSystem::Object* PipeWireAudioSystem::nodeBySerial(AudioObjectID serial) const {
  for (const auto& [id, object] : objects_)
    if (object->isNode && numberProperty(object->props, PW_KEY_OBJECT_SERIAL) == serial) return object.get();
  return nullptr;
}

std::vector<AudioClient> PipeWireAudioSystem::audioClients() {
  struct Raw {
    AudioObjectID serial;
    AudioProperties client;
    std::vector<AudioProperties> streams;
    std::uint64_t order;
  };
  std::vector<Raw> raw;
  if (!connection_ || !connection_->connected()) return {};
  {
    // Copies under the lock; the identity's file look-ups run after it.
    LoopLock lock(connection_->threadLoop());
    std::map<std::uint32_t, std::size_t> byId;
    for (const auto& [id, object] : objects_) {
      if (object->isNode) continue;
      auto serial = numberProperty(object->props, PW_KEY_OBJECT_SERIAL);
      if (!serial) continue;
      byId[id] = raw.size();
      raw.push_back(Raw{*serial, object->props, {}, object->order});
    }
    std::vector<const Object*> nodes;
    for (const auto& [id, object] : objects_)
      if (object->isNode && property(object->props, PW_KEY_MEDIA_CLASS) == "Stream/Output/Audio") nodes.push_back(object.get());
    std::ranges::sort(nodes, {}, &Object::order);
    for (const Object* node : nodes) {
      auto client = numberProperty(node->props, PW_KEY_CLIENT_ID);
      if (auto it = client ? byId.find(*client) : byId.end(); it != byId.end()) raw[it->second].streams.push_back(node->props);
    }
  }
  std::ranges::sort(raw, {}, &Raw::order);
  std::vector<AudioClient> clients;
  clients.reserve(raw.size());
  static const AudioProperties kNone;
  for (const auto& r : raw) {
    AudioClient client;
    client.object = r.serial;
    const AudioProperties& firstStream = r.streams.empty() ? kNone : r.streams.front();
    client.pid = applicationPid(firstStream, r.client);
    client.name = property(firstStream, PW_KEY_APP_NAME);
    if (client.name.empty()) client.name = property(r.client, PW_KEY_APP_NAME);
    for (const auto& stream : r.streams) client.streamIdentities.push_back(applicationIdentity(stream, r.client, lookups_));
    client.identity = client.streamIdentities.empty() ? applicationIdentity(kNone, r.client, lookups_)
                                                      : client.streamIdentities.front();
    clients.push_back(std::move(client));
  }
  return clients;
}

// ---- the tap: a private virtual sink -------------------------------------------------------------

bool PipeWireAudioSystem::sinkReady() const {
  if (!sink_ || sink_->id == SPA_ID_INVALID) return false;
  // Two playback and two monitor ports: before that a capture stream would be linked elsewhere.
  return std::ranges::count_if(ports_, [&](const auto& port) { return port.second.node == sink_->id; }) >= 4;
}

int PipeWireAudioSystem::createSink(std::uint32_t rate) {
  auto props = PwProperties(pw_properties_new(
      "factory.name", "support.null-audio-sink", PW_KEY_NODE_NAME, options_.sinkName.c_str(), PW_KEY_NODE_DESCRIPTION,
      options_.sinkDescription.c_str(), PW_KEY_MEDIA_CLASS, "Audio/Sink", PW_KEY_NODE_VIRTUAL, "true",
      // Removed by the server when Brontide dies, so a killed instance leaves no sink behind.
      PW_KEY_OBJECT_LINGER, "false",
      // WirePlumber 0.4.13 crashes when an idle sink is destroyed while it suspends it.
      "session.suspend-timeout-seconds", "0",
      // Never anyone's default output.
      PW_KEY_PRIORITY_SESSION, "0", "audio.position", "FL,FR", "monitor.channel-volumes", "false", nullptr));
  pw_properties_setf(props.get(), "audio.rate", "%u", rate);
  pw_properties_setf(props.get(), "audio.channels", "%u", kChannels);
  auto sink = std::make_unique<Sink>();
  sink->rate = rate;
  sink->proxy.reset(static_cast<pw_proxy*>(pw_core_create_object(connection_->core(), "adapter", PW_TYPE_INTERFACE_Node,
                                                                 PW_VERSION_NODE, &props->dict, 0)));
  if (!sink->proxy) return -errno;
  static const pw_proxy_events kEvents = [] {
    pw_proxy_events events{};
    events.version = PW_VERSION_PROXY_EVENTS;
    events.bound = [](void* data, std::uint32_t id) {
      auto* self = static_cast<PipeWireAudioSystem*>(data);
      if (self->sink_) self->sink_->id = id;
      self->checkSinkReady();
      self->connection_->signal();
    };
    events.error = [](void* data, int, int res, const char* message) {
      auto* self = static_cast<PipeWireAudioSystem*>(data);
      if (self->sink_) self->sink_->error = res;
      self->log_.notice(formatString("capture: tap sink failed: %s (%d)", message ? message : "", res));
      self->connection_->signal();
    };
    return events;
  }();
  pw_proxy_add_listener(sink->proxy.get(), sink->listener.arm(), &kEvents, this);
  sink_ = std::move(sink);
  return 0;
}

void PipeWireAudioSystem::destroySink() {
  if (!sink_) return;
  sink_->listener.remove();
  sink_.reset();
}

void PipeWireAudioSystem::checkSinkReady() {
  if (!sink_ || sink_->announced || !sinkReady() || !defaultMetadata_) return;
  sink_->announced = true;
  mover_.setTarget(options_.sinkName);
  clearLeftovers();
  for (auto& [id, tap] : taps_)
    if (!tap->global) moveStreams(*tap);
  // A capture stream made before the sink existed waits for it; after a session manager restart the
  // existing capture streams are linked by hand instead.
  if (!linksByHand_) reconnectCaptureStreams();
}

void PipeWireAudioSystem::clearLeftovers() {
  // Keys naming our sink on streams no tap holds were left by an instance that was killed.
  std::vector<std::uint32_t> stale;
  for (const auto& [key, value] : defaultMetadata_->values)
    if (key.second == StreamMover::kTargetObject && !mover_.isMoved(key.first) && mover_.pointsAtTarget(value))
      stale.push_back(key.first);
  for (auto subject : stale) {
    log_.notice(formatString("capture: clearing a leftover route of stream %u into the tap", subject));
    write(subject, StreamMover::kTargetObject, std::nullopt);
    write(subject, StreamMover::kTargetNode, std::nullopt);
  }
}

void PipeWireAudioSystem::moveStreams(Tap& tap) {
  std::vector<const Object*> nodes;
  for (const auto& [id, object] : objects_)
    if (object->isNode && property(object->props, PW_KEY_MEDIA_CLASS) == "Stream/Output/Audio") nodes.push_back(object.get());
  std::ranges::sort(nodes, {}, &Object::order);
  for (const Object* node : nodes) moveStream(tap, *node);
}

void PipeWireAudioSystem::moveStream(Tap& tap, const Object& node) {
  if (!sink_ || !sink_->announced || !defaultMetadata_) return;
  const auto moved = mover_.streamsOf(tap.id);
  if (std::ranges::find(moved, node.id) != moved.end()) return;
  // Resolve the owner through its serial: ids are reused, serials are not.
  auto clientId = numberProperty(node.props, PW_KEY_CLIENT_ID);
  if (!clientId) return;
  auto client = objects_.find(*clientId);
  if (client == objects_.end() || client->second->isNode) return;
  auto serial = numberProperty(client->second->props, PW_KEY_OBJECT_SERIAL);
  if (!serial || !tap.clients.contains(*serial)) return;
  mover_.want(tap.id, node.id);
  moveChecks_.push_back(MoveCheck{std::chrono::steady_clock::now() + kMoveCheckDelay, tap.id, node.id});
  armTimer();
}

void PipeWireAudioSystem::checkMoved(AudioObjectID tapID, std::uint32_t nodeID) {
  auto tap = taps_.find(tapID);
  auto node = objects_.find(nodeID);
  if (tap == taps_.end() || node == objects_.end() || !sink_ || !mover_.isMoved(nodeID)) return;
  const bool elsewhere = std::ranges::any_of(links_, [&](const auto& link) {
    return link.second.outputNode == nodeID && link.second.inputNode != sink_->id;
  });
  if (!elsewhere) return;
  std::string name = property(node->second->props, PW_KEY_APP_NAME);
  if (name.empty()) name = property(node->second->props, PW_KEY_NODE_NAME);
  log_.notice(formatString("capture: stream %u of \"%s\" refuses to move into the tap (node.dont-reconnect=%s)", nodeID,
                           name.c_str(), property(node->second->props, PW_KEY_NODE_DONT_RECONNECT).c_str()));
  auto& unmovable = tap->second->unmovable;
  if (std::ranges::find(unmovable, name) == unmovable.end()) unmovable.push_back(name);
}

std::optional<MetadataValue> PipeWireAudioSystem::read(std::uint32_t node, std::string_view key) {
  if (!defaultMetadata_) return std::nullopt;
  auto it = defaultMetadata_->values.find({node, std::string(key)});
  if (it == defaultMetadata_->values.end()) return std::nullopt;
  return it->second;
}

void PipeWireAudioSystem::write(std::uint32_t node, std::string_view key, const std::optional<MetadataValue>& value) {
  if (!defaultMetadata_) return;
  const std::string k(key);
  if (value) {
    pw_metadata_set_property(defaultMetadata_->metadata(), node, k.c_str(), value->type.empty() ? nullptr : value->type.c_str(),
                             value->value.c_str());
  } else {
    pw_metadata_set_property(defaultMetadata_->metadata(), node, k.c_str(), nullptr, nullptr);
  }
}

void PipeWireAudioSystem::onTimer(void* data, std::uint64_t) {
  auto* self = static_cast<PipeWireAudioSystem*>(data);
  if (self->closing_) return;
  const auto now = std::chrono::steady_clock::now();
  if (self->reconnectAt_ && *self->reconnectAt_ <= now) {
    self->reconnectDaemon();
    self->armTimer();
    self->connection_->signal();
    return;
  }
  if (self->linksByHand_) {
    for (auto& [node, object] : self->objects_)
      if (object->isNode && self->mover_.isMoved(node)) self->givenBack_.push_back(node);
  }
  self->mover_.expire(now);
  if (self->linksByHand_) {
    std::erase_if(self->givenBack_, [&](std::uint32_t node) { return self->mover_.isMoved(node); });
    if (!self->givenBack_.empty() && !self->nextLinkCheck_) self->nextLinkCheck_ = now + 300ms;
  }
  auto checks = std::move(self->moveChecks_);
  self->moveChecks_.clear();
  for (const auto& check : checks) {
    if (check.at <= now) self->checkMoved(check.tap, check.node);
    else self->moveChecks_.push_back(check);
  }
  if (self->nextLinkCheck_ && *self->nextLinkCheck_ <= now) {
    self->nextLinkCheck_.reset();
    self->checkLinksByHand();
  }
  if (auto& sink = self->sink_; sink && sink->refs == 0 && sink->idleSince && now >= *sink->idleSince + StreamMover::kGrace) {
    // Destroy the sink once the given-back streams are relinked elsewhere (or after a bound, so a dead
    // session manager cannot keep it forever).
    const bool linked = std::ranges::any_of(self->links_, [&](const auto& link) { return link.second.inputNode == sink->id; });
    if (!linked || now >= *sink->idleSince + StreamMover::kGrace + kRelinkTimeout) self->destroySink();
  }
  self->armTimer();
  self->connection_->signal();
}

void PipeWireAudioSystem::armTimer() {
  if (!timer_) return;
  std::optional<TimePoint> next = mover_.nextDeadline();
  auto consider = [&](TimePoint at) {
    if (!next || at < *next) next = at;
  };
  for (const auto& check : moveChecks_) consider(check.at);
  if (nextLinkCheck_) consider(*nextLinkCheck_);
  if (reconnectAt_) consider(*reconnectAt_);
  if (sink_ && sink_->refs == 0 && sink_->idleSince) {
    const auto graceEnd = *sink_->idleSince + StreamMover::kGrace;
    consider(std::max(graceEnd, std::chrono::steady_clock::now() + kUnlinkPoll));
  }
  if (!next) {
    pw_loop_update_timer(connection_->loop(), timer_, nullptr, nullptr, false);
    return;
  }
  timespec at = monotonic(*next);
  if (at.tv_sec == 0 && at.tv_nsec == 0) at.tv_nsec = 1;
  pw_loop_update_timer(connection_->loop(), timer_, &at, nullptr, true);
}

void PipeWireAudioSystem::waitForSinkUnlinked(std::chrono::milliseconds timeout) {
  if (!sink_ || sink_->id == SPA_ID_INVALID) return;
  const auto sinkId = sink_->id;
  connection_->waitUntil(
      [&] { return std::ranges::none_of(links_, [&](const auto& link) { return link.second.inputNode == sinkId; }); },
      timeout);
}

bool PipeWireAudioSystem::linked(std::uint32_t output, std::uint32_t input) const {
  return std::ranges::any_of(links_, [&](const auto& l) { return l.second.outputNode == output && l.second.inputNode == input; });
}

bool PipeWireAudioSystem::hasLinks(std::uint32_t node, bool asOutput) const {
  return std::ranges::any_of(links_, [&](const auto& l) { return (asOutput ? l.second.outputNode : l.second.inputNode) == node; });
}

std::optional<std::uint32_t> PipeWireAudioSystem::nodeIdByName(const std::string& name) const {
  for (const auto& [id, object] : objects_)
    if (object->isNode && property(object->props, PW_KEY_NODE_NAME) == name) return id;
  return std::nullopt;
}

void PipeWireAudioSystem::linkNodes(std::uint32_t output, std::uint32_t input) {
  std::vector<std::pair<std::uint32_t, const Port*>> outs, ins;
  for (const auto& [id, port] : ports_) {
    if (port.node == output && port.output) outs.emplace_back(id, &port);
    if (port.node == input && !port.output) ins.emplace_back(id, &port);
  }
  for (const auto& [outId, out] : outs) {
    for (const auto& [inId, in] : ins) {
      if (out->channel != in->channel && out->channel != "MONO" && in->channel != "MONO") continue;
      auto props = PwProperties(pw_properties_new(PW_KEY_OBJECT_LINGER, "false", nullptr));
      pw_properties_setf(props.get(), PW_KEY_LINK_OUTPUT_NODE, "%u", output);
      pw_properties_setf(props.get(), PW_KEY_LINK_OUTPUT_PORT, "%u", outId);
      pw_properties_setf(props.get(), PW_KEY_LINK_INPUT_NODE, "%u", input);
      pw_properties_setf(props.get(), PW_KEY_LINK_INPUT_PORT, "%u", inId);
      auto* proxy = static_cast<pw_proxy*>(pw_core_create_object(connection_->core(), "link-factory", PW_TYPE_INTERFACE_Link,
                                                                 PW_VERSION_LINK, &props->dict, 0));
      if (proxy) ownLinks_.emplace_back(proxy);
    }
  }
}

void PipeWireAudioSystem::checkLinksByHand() {
  bool again = false;
  if (sink_ && sink_->announced) {
    for (auto& [id, tap] : taps_) {
      for (auto node : mover_.streamsOf(id)) {
        if (!linked(node, sink_->id) && objects_.contains(node)) {
          log_.notice(formatString("capture: linking stream %u into the tap by hand", node));
          linkNodes(node, sink_->id);
          again = true;
        }
      }
    }
  }
  // Our capture streams: linked from their target's monitor.
  for (const auto& [id, object] : objects_) {
    if (!object->isNode || property(object->props, PW_KEY_NODE_NAME) != "Brontide-Tap" ||
        property(object->props, PW_KEY_MEDIA_CLASS) != "Stream/Input/Audio" || hasLinks(id, false))
      continue;
    auto client = numberProperty(object->props, PW_KEY_CLIENT_ID);
    auto owner = client ? objects_.find(*client) : objects_.end();
    if (owner == objects_.end() || numberProperty(owner->second->props, "pipewire.sec.pid") != std::uint32_t(::getpid()))
      continue;
    if (auto source = nodeIdByName(property(object->props, PW_KEY_TARGET_OBJECT))) {
      log_.notice(formatString("capture: linking the capture stream %u by hand", id));
      linkNodes(*source, id);
      again = true;
    }
  }
  if (auto defaultSink = defaultSinkName(); defaultSink) {
    auto target = nodeIdByName(*defaultSink);
    for (auto node : std::exchange(givenBack_, {})) {
      if (target && objects_.contains(node) && !mover_.isMoved(node) && !hasLinks(node, true)) linkNodes(node, *target);
    }
  }
  if (again && !taps_.empty()) nextLinkCheck_ = std::chrono::steady_clock::now() + 500ms;
}

std::expected<AudioObjectID, AudioStatus> PipeWireAudioSystem::createProcessTap(const TapDescription& description) {
  if (!connection_ || !connection_->connected()) return std::unexpected(connection_ ? connection_->lastError() : -ENOTCONN);
  LoopLock lock(connection_->threadLoop());
  if (connection_->daemonGone()) return std::unexpected(-EPIPE);
  const std::uint32_t rate = sink_ ? sink_->rate : graphRate();
  auto tap = std::make_unique<Tap>(Tap{++nextTapID_, description.global, {}, description.uuid, rate, {}});
  tap->clients.insert(description.processes.begin(), description.processes.end());
  // Unmuted taps (global) capture the default output as it is and move nothing.
  if (description.global || description.muteBehavior == TapMuteBehavior::unmuted) {
    tap->global = true;
    const auto id = tap->id;
    taps_[id] = std::move(tap);
    return id;
  }
  if (rate == 0) return std::unexpected(-ENODATA);
  if (!sink_) {
    if (int res = createSink(rate); res < 0) return std::unexpected(res);
  }
  ++sink_->refs;
  sink_->idleSince.reset();
  Tap& added = *tap;
  const auto id = tap->id;
  taps_[id] = std::move(tap);
  if (sink_->announced) {
    moveStreams(added);
  } else if (!rebuildPending_) {
    const bool ready = connection_->waitUntil([&] { return !sink_ || sink_->announced || sink_->error != 0; }, kSinkTimeout);
    if (!sink_ || !ready || sink_->error != 0) {
      const int res = sink_ && sink_->error ? sink_->error : -ETIMEDOUT;
      taps_.erase(id);
      if (sink_ && --sink_->refs == 0) destroySink();
      return std::unexpected(res);
    }
  }
  return id;
}

std::optional<AudioStreamBasicDescription> PipeWireAudioSystem::tapFormat(AudioObjectID tapID) {
  if (!connection_ || !connection_->connected()) return std::nullopt;
  LoopLock lock(connection_->threadLoop());
  auto it = taps_.find(tapID);
  if (it == taps_.end() || it->second->rate == 0) return std::nullopt;
  return stereoFloat(it->second->rate);
}

AudioObjectID PipeWireAudioSystem::defaultOutputDevice() {
  if (!connection_ || !connection_->connected()) return 0;
  LoopLock lock(connection_->threadLoop());
  auto name = defaultSinkName();
  if (!name) return 0;
  for (const auto& [id, object] : objects_)
    if (object->isNode && property(object->props, PW_KEY_NODE_NAME) == *name &&
        property(object->props, PW_KEY_MEDIA_CLASS) == "Audio/Sink")
      return numberProperty(object->props, PW_KEY_OBJECT_SERIAL).value_or(0);
  return 0;
}

std::optional<std::string> PipeWireAudioSystem::deviceUID(AudioObjectID device) {
  if (device == 0 || !connection_ || !connection_->connected()) return std::nullopt;
  LoopLock lock(connection_->threadLoop());
  const Object* node = nodeBySerial(device);
  if (!node) return std::nullopt;
  auto name = property(node->props, PW_KEY_NODE_NAME);
  if (name.empty()) return std::nullopt;
  return name;
}

std::vector<std::string> PipeWireAudioSystem::unmovableApplications(AudioObjectID tapID) {
  if (!connection_ || !connection_->connected()) return {};
  LoopLock lock(connection_->threadLoop());
  auto it = taps_.find(tapID);
  return it == taps_.end() ? std::vector<std::string>{} : it->second->unmovable;
}

std::optional<std::uint32_t> PipeWireAudioSystem::tapSinkNode() const {
  if (!connection_ || !connection_->connected()) return std::nullopt;
  LoopLock lock(connection_->threadLoop());
  if (!sink_ || sink_->id == SPA_ID_INVALID) return std::nullopt;
  return sink_->id;
}

void PipeWireAudioSystem::destroyProcessTap(AudioObjectID tapID) {
  if (!connection_ || !connection_->connected()) return;
  LoopLock lock(connection_->threadLoop());
  auto it = taps_.find(tapID);
  if (it == taps_.end()) return;
  const bool global = it->second->global;
  taps_.erase(it);
  std::erase_if(moveChecks_, [&](const MoveCheck& check) { return check.tap == tapID; });
  if (global) return;
  const auto now = std::chrono::steady_clock::now();
  // Both the streams and the sink outlive the tap by a grace period, so a tap that replaces this one
  // takes them over without a blip; the timer gives them back after it.
  mover_.release(tapID, now);
  if (sink_ && --sink_->refs <= 0) {
    sink_->refs = 0;
    sink_->idleSince = now;
  }
  armTimer();
}

// ---- capture streams on "brontide.tap.io" ---------------------------------------------------------

std::expected<AudioObjectID, AudioStatus> PipeWireAudioSystem::createAggregateDevice(
    const AggregateDeviceDescription& description) {
  if (!io_ || !io_->connected()) return std::unexpected(io_ ? io_->lastError() : -ENOTCONN);
  bool global = false;
  std::uint32_t rate = 0;
  AudioObjectID tapID = 0;
  {
    LoopLock lock(connection_->threadLoop());
    for (const auto& [id, tap] : taps_) {
      if (!description.taps.empty() && tap->uuid == description.taps.front().uid) {
        tapID = id;
        global = tap->global;
        rate = tap->rate;
      }
    }
  }
  if (tapID == 0 || rate == 0) return std::unexpected(-ENOENT);

  auto aggregate = std::make_unique<Aggregate>();
  aggregate->owner = this;
  aggregate->tap = tapID;
  aggregate->global = global;
  aggregate->target = global ? description.mainSubDevice : options_.sinkName;
  aggregate->rate = rate;

  LoopLock lock(io_->threadLoop());
  if (io_->daemonGone()) {
    // The capture connection is renewed once no stream of the old one is left.
    if (!aggregates_.empty()) return std::unexpected(-EPIPE);
    if (const int res = io_->reconnect(); res < 0) return std::unexpected(res);
  }
  auto props = pw_properties_new(PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY, "Capture", PW_KEY_NODE_NAME,
                                 description.name.c_str(), PW_KEY_NODE_DESCRIPTION, description.name.c_str(),
                                 PW_KEY_APP_NAME, "Brontide", PW_KEY_STREAM_CAPTURE_SINK, "true",
                                 PW_KEY_TARGET_OBJECT, aggregate->target.c_str(),
                                 // Linked by us to the sink alone, never rerouted by the session manager.
                                 PW_KEY_NODE_DONT_RECONNECT, "true", nullptr);
  aggregate->stream.reset(pw_stream_new(io_->core(), description.name.c_str(), props));
  if (!aggregate->stream) return std::unexpected(-errno);
  static const pw_stream_events kEvents = [] {
    pw_stream_events events{};
    events.version = PW_VERSION_STREAM_EVENTS;
    // Runs on "brontide.tap.io" with its loop lock held (no RT_PROCESS flag): stopDevice() takes that
    // lock, so no call runs once it returns.
    events.process = [](void* data) {
      auto* a = static_cast<Aggregate*>(data);
      pw_buffer* buffer = pw_stream_dequeue_buffer(a->stream.get());
      if (!buffer) return;
      spa_buffer* spaBuffer = buffer->buffer;
      const std::uint32_t count = std::min<std::uint32_t>(spaBuffer->n_datas, kMaxBuffers);
      for (std::uint32_t i = 0; i < count; ++i) {
        const spa_data& d = spaBuffer->datas[i];
        if (!d.data || !d.chunk) {
          a->buffers[i] = AudioBuffer{kChannels, 0, nullptr};
          continue;
        }
        const std::uint32_t offset = std::min(d.chunk->offset, d.maxsize);
        const std::uint32_t size = std::min(d.chunk->size, d.maxsize - offset);
        a->buffers[i] = AudioBuffer{kChannels, size, SPA_PTROFF(d.data, offset, void)};
      }
      if (a->proc) a->proc(AudioBufferList(a->buffers, count));
      pw_stream_queue_buffer(a->stream.get(), buffer);
    };
    events.state_changed = [](void* data, pw_stream_state, pw_stream_state state, const char* error) {
      auto* a = static_cast<Aggregate*>(data);
      if (state == PW_STREAM_STATE_ERROR)
        a->owner->log_.notice(formatString("capture: capture stream failed: %s", error ? error : ""));
    };
    return events;
  }();
  pw_stream_add_listener(aggregate->stream.get(), aggregate->listener.arm(), &kEvents, aggregate.get());
  aggregate->id = ++nextAggregateID_;
  const auto id = aggregate->id;
  aggregates_[id] = std::move(aggregate);
  return id;
}

std::expected<IOProcID, AudioStatus> PipeWireAudioSystem::createIOProc(AudioObjectID device, IOProc proc) {
  if (!io_ || !io_->connected()) return std::unexpected(-ENOTCONN);
  LoopLock lock(io_->threadLoop());
  auto it = aggregates_.find(device);
  if (it == aggregates_.end()) return std::unexpected(-ENOENT);
  if (it->second->procID) return std::unexpected(-EBUSY);
  it->second->proc = std::move(proc);
  it->second->procID = ++nextProcID_;
  return *it->second->procID;
}

int PipeWireAudioSystem::connectCapture(Aggregate& aggregate) {
  std::uint8_t buffer[1024];
  spa_pod_builder builder = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
  spa_audio_info_raw info{};
  info.format = SPA_AUDIO_FORMAT_F32;
  info.rate = aggregate.rate;
  info.channels = kChannels;
  info.position[0] = SPA_AUDIO_CHANNEL_FL;
  info.position[1] = SPA_AUDIO_CHANNEL_FR;
  const spa_pod* params[1] = {spa_format_audio_raw_build(&builder, SPA_PARAM_EnumFormat, &info)};
  const int res = pw_stream_connect(aggregate.stream.get(), PW_DIRECTION_INPUT, PW_ID_ANY,
                                    pw_stream_flags(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS), params, 1);
  aggregate.connected = res >= 0;
  if (res < 0) log_.notice(formatString("capture: cannot connect the capture stream (%d)", res));
  return res;
}

AudioStatus PipeWireAudioSystem::startDevice(AudioObjectID device, IOProcID proc) {
  if (!io_ || !io_->connected()) return -ENOTCONN;
  LoopLock lock(io_->threadLoop());
  auto it = aggregates_.find(device);
  if (it == aggregates_.end() || it->second->procID != proc) return -ENOENT;
  const int res = connectCapture(*it->second);
  return res < 0 ? res : 0;
}

void PipeWireAudioSystem::reconnectCaptureStreams() {
  // Called on "brontide.pipewire": the capture streams belong to "brontide.tap.io", so the work is queued
  // there instead of taking its lock from here.
  if (!io_ || !io_->connected()) return;
  const std::string defaultSink = defaultSinkName().value_or("");
  pw_loop_invoke(
      io_->loop(),
      [](spa_loop*, bool, std::uint32_t, const void* data, size_t size, void* user) -> int {
        auto* self = static_cast<PipeWireAudioSystem*>(user);
        const std::string sink(static_cast<const char*>(data), size);
        for (auto& [id, aggregate] : self->aggregates_) {
          if (!aggregate->connected) continue;
          pw_stream_disconnect(aggregate->stream.get());
          if (aggregate->global && !sink.empty()) aggregate->target = sink;
          spa_dict_item item = SPA_DICT_ITEM_INIT(PW_KEY_TARGET_OBJECT, aggregate->target.c_str());
          spa_dict dict = SPA_DICT_INIT(&item, 1);
          pw_stream_update_properties(aggregate->stream.get(), &dict);
          (void)self->connectCapture(*aggregate);
        }
        return 0;
      },
      0, defaultSink.data(), defaultSink.size(), false, this);
}

void PipeWireAudioSystem::stopDevice(AudioObjectID device, IOProcID) {
  if (!io_ || !io_->connected()) return;
  LoopLock lock(io_->threadLoop());
  auto it = aggregates_.find(device);
  if (it == aggregates_.end() || !it->second->connected) return;
  pw_stream_disconnect(it->second->stream.get());
  it->second->connected = false;
}

void PipeWireAudioSystem::destroyIOProc(AudioObjectID device, IOProcID proc) {
  if (!io_ || !io_->connected()) return;
  IOProc released;
  {
    LoopLock lock(io_->threadLoop());
    auto it = aggregates_.find(device);
    if (it == aggregates_.end() || it->second->procID != proc) return;
    released = std::move(it->second->proc);
    it->second->proc = nullptr;
    it->second->procID.reset();
  }
  // `released` (the sink and its owners) goes outside the lock.
}

void PipeWireAudioSystem::destroyAggregateDevice(AudioObjectID device) {
  if (!io_ || !io_->connected()) return;
  std::unique_ptr<Aggregate> aggregate;
  {
    LoopLock lock(io_->threadLoop());
    auto it = aggregates_.find(device);
    if (it == aggregates_.end()) return;
    aggregate = std::move(it->second);
    aggregates_.erase(it);
    aggregate->listener.remove();
    aggregate->stream.reset();
  }
}

}  // namespace brontide::pw
