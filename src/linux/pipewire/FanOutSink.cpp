#include "linux/pipewire/FanOutSink.h"

#include <cerrno>
#include <cstring>
#include <utility>

#include "linux/pipewire/PipeWireAirPlayOutput.h"

namespace brontide::linux::pipewire {

namespace {

// The fan-out sink outlives the last receiver by this long, so the player's stream has left it (by restarting on
// the default output) before it goes: the session manager would otherwise move that stream while it plays.
constexpr int kLingerSeconds = 2;

}  // namespace

FanOutSink::FanOutSink(PwConnection& connection, std::function<void()> changed, std::function<void()> lingered)
    : connection_(connection), changed_(std::move(changed)), lingered_(std::move(lingered)) {}

// A virtual sink in the server that the receivers' loopbacks read from its monitor: every feed is then a normal
// stream the server schedules, so closing one never races another node's process callback.
std::expected<void, std::string> FanOutSink::create() {
  if (proxy_ || !connection_.core()) return {};
  ++generation_;
  PwProperties props(pw_properties_new(
      PW_KEY_FACTORY_NAME, "support.null-audio-sink", PW_KEY_NODE_NAME, PipeWireAirPlayOutput::kFanOutSinkName,
      PW_KEY_NODE_DESCRIPTION, "Brontide AirPlay", PW_KEY_MEDIA_CLASS, "Audio/Sink", PW_KEY_NODE_VIRTUAL, "true",
      PW_KEY_OBJECT_LINGER, "false", "audio.position", "[ FL FR ]",
      // Never the session's default sink.
      "priority.session", "0", "priority.driver", "0",
      // The receivers' sinks run on this sink's clock from their first cycle (see raopSinkArguments).
      "node.group", PipeWireAirPlayOutput::kFanOutSinkName,
      // WirePlumber 0.4.13 crashes when an idle sink it suspended is destroyed soon after.
      "session.suspend-timeout-seconds", "0", nullptr));
  proxy_.reset(static_cast<pw_proxy*>(pw_core_create_object(connection_.core(), "adapter", PW_TYPE_INTERFACE_Node,
                                                            PW_VERSION_NODE, &props->dict, 0)));
  if (!proxy_) return std::unexpected(std::string("cannot create the AirPlay sink (") + std::strerror(errno) + ")");
  static const pw_proxy_events kEvents = [] {
    pw_proxy_events events{};
    events.version = PW_VERSION_PROXY_EVENTS;
    events.bound = [](void* self, std::uint32_t id) {
      auto& sink = *static_cast<FanOutSink*>(self);
      sink.id_ = id;
      sink.changed_();
    };
    events.removed = [](void* self) {
      auto& sink = *static_cast<FanOutSink*>(self);
      sink.removed_ = true;
      sink.changed_();
    };
    return events;
  }();
  pw_proxy_add_listener(proxy_.get(), hook_.arm(), &kEvents, this);
  return {};
}

void FanOutSink::destroy() {
  hook_.remove();
  proxy_.reset();
  id_ = SPA_ID_INVALID;
  removed_ = false;
}

bool FanOutSink::inGraph(const std::map<std::uint32_t, std::string>& nodes) const {
  return proxy_ && id_ != SPA_ID_INVALID && nodes.contains(id_);
}

void FanOutSink::linger() {
  pw_loop* loop = connection_.loop();
  if (!lingerTimer_) lingerTimer_ = LoopSource(loop, pw_loop_add_timer(loop, &FanOutSink::onLingerEnd, this));
  armTimer(loop, lingerTimer_, kLingerSeconds);
}

void FanOutSink::onLingerEnd(void* self, std::uint64_t) { static_cast<FanOutSink*>(self)->lingered_(); }

}  // namespace brontide::linux::pipewire
