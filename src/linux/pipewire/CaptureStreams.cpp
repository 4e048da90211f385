#include "linux/pipewire/CaptureStreams.h"


#include <algorithm>
#include <cerrno>
#include <cstring>

#include "base/Format.h"

namespace brontide::linux::pipewire {
namespace {

constexpr std::uint32_t kChannels = 2;
constexpr std::uint32_t kFrameBytes = kChannels * sizeof(float);

}  // namespace

// Its callbacks run on "brontide.tap.io" with the loop lock held.
struct CaptureStreams::Stream {
  CaptureStreams* owner = nullptr;
  std::uint64_t id = 0;
  std::string source;
  bool followsDefault = false;
  std::uint32_t rate = 0;
  PwStream stream;
  HookGuard listener;
  CaptureCallback proc;
  bool connected = false;
};

CaptureStreams::CaptureStreams(Log& log)
    : log_(log), connection_("brontide.tap.io", pw_properties_new(PW_KEY_APP_NAME, "Brontide", nullptr)) {
  if (!connection_.connected())
    log_.notice(formatString("pipewire: capture connection failed (%s)", std::strerror(-connection_.lastError())));
}

CaptureStreams::~CaptureStreams() {
  if (!connection_.connected()) return;
  LoopLock lock(connection_.threadLoop());
  for (auto& [id, stream] : streams_) {
    stream->listener.remove();
    stream->stream.reset();
  }
  streams_.clear();
}

std::expected<std::uint64_t, int> CaptureStreams::create(const std::string& source, bool followsDefault,
                                                         std::uint32_t rate) {
  if (!connection_.connected()) return std::unexpected(connection_.lastError() ? connection_.lastError() : -ENOTCONN);
  auto stream = std::make_unique<Stream>();
  stream->owner = this;
  stream->source = source;
  stream->followsDefault = followsDefault;
  stream->rate = rate;
  LoopLock lock(connection_.threadLoop());
  if (connection_.daemonGone()) {
    // The connection is renewed once no stream of the old one is left.
    if (!streams_.empty()) return std::unexpected(-EPIPE);
    if (const int res = connection_.reconnect(); res < 0) return std::unexpected(res);
  }
  auto props = pw_properties_new(PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY, "Capture", PW_KEY_NODE_NAME,
                                 kNodeName, PW_KEY_NODE_DESCRIPTION, kNodeName, PW_KEY_APP_NAME, "Brontide",
                                 PW_KEY_STREAM_CAPTURE_SINK, "true", PW_KEY_TARGET_OBJECT, source.c_str(),
                                 // Linked by us to the sink alone, never rerouted by the session manager.
                                 PW_KEY_NODE_DONT_RECONNECT, "true", nullptr);
  stream->stream.reset(pw_stream_new(connection_.core(), kNodeName, props));
  if (!stream->stream) return std::unexpected(-errno);
  static const pw_stream_events kEvents = [] {
    pw_stream_events events{};
    events.version = PW_VERSION_STREAM_EVENTS;
    // Without RT_PROCESS this runs on "brontide.tap.io" with its loop lock held: destroy() takes that lock,
    // so no call runs once it returns.
    events.process = [](void* data) {
      auto* s = static_cast<Stream*>(data);
      pw_buffer* buffer = pw_stream_dequeue_buffer(s->stream.get());
      if (!buffer) return;
      const spa_buffer* spaBuffer = buffer->buffer;
      if (spaBuffer->n_datas > 0 && s->proc) {
        const spa_data& d = spaBuffer->datas[0];
        if (d.data && d.chunk) {
          const std::uint32_t offset = std::min(d.chunk->offset, d.maxsize);
          const std::uint32_t size = std::min(d.chunk->size, d.maxsize - offset);
          s->proc(SampleBlock{SPA_PTROFF(d.data, offset, const float), size / kFrameBytes * kChannels});
        }
      }
      pw_stream_queue_buffer(s->stream.get(), buffer);
    };
    events.state_changed = [](void* data, pw_stream_state, pw_stream_state state, const char* error) {
      auto* s = static_cast<Stream*>(data);
      if (state == PW_STREAM_STATE_ERROR)
        s->owner->log_.notice(formatString("capture: capture stream failed: %s", error ? error : ""));
      if (state == PW_STREAM_STATE_PAUSED || state == PW_STREAM_STATE_STREAMING) s->owner->published(*s);
    };
    return events;
  }();
  pw_stream_add_listener(stream->stream.get(), stream->listener.arm(), &kEvents, stream.get());
  stream->id = ++nextId_;
  const auto id = stream->id;
  streams_[id] = std::move(stream);
  return id;
}

void CaptureStreams::published(Stream& stream) {
  const std::uint32_t node = pw_stream_get_node_id(stream.stream.get());
  if (node == SPA_ID_INVALID) return;
  std::lock_guard lock(nodesMutex_);
  nodes_[stream.id] = CaptureNode{node, stream.source};
}

int CaptureStreams::connect(Stream& stream) {
  std::uint8_t buffer[1024];
  spa_pod_builder builder = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
  const spa_pod* params[1] = {stereoFloatFormat(builder, stream.rate)};
  const int res = pw_stream_connect(stream.stream.get(), PW_DIRECTION_INPUT, PW_ID_ANY,
                                    pw_stream_flags(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS), params, 1);
  stream.connected = res >= 0;
  if (res < 0) log_.notice(formatString("capture: cannot connect the capture stream (%d)", res));
  return res;
}

int CaptureStreams::start(std::uint64_t id, CaptureCallback proc) {
  if (!connection_.connected()) return -ENOTCONN;
  LoopLock lock(connection_.threadLoop());
  auto it = streams_.find(id);
  if (it == streams_.end()) return -ENOENT;
  it->second->proc = std::move(proc);
  const int res = connect(*it->second);
  return res < 0 ? res : 0;
}

void CaptureStreams::destroy(std::uint64_t id) {
  {
    std::lock_guard lock(nodesMutex_);
    nodes_.erase(id);
  }
  if (!connection_.connected()) return;
  std::unique_ptr<Stream> stream;
  {
    LoopLock lock(connection_.threadLoop());
    auto it = streams_.find(id);
    if (it == streams_.end()) return;
    stream = std::move(it->second);
    streams_.erase(it);
    stream->listener.remove();
    stream->stream.reset();
  }
  // The procedure (the sink and its owners) goes outside the lock.
}

void CaptureStreams::reconnectAll(const std::string& defaultSink) {
  if (!connection_.connected()) return;
  pw_loop_invoke(
      connection_.loop(),
      [](spa_loop*, bool, std::uint32_t, const void* data, size_t size, void* user) -> int {
        auto* self = static_cast<CaptureStreams*>(user);
        const std::string sink(static_cast<const char*>(data), size);
        for (auto& [id, stream] : self->streams_) {
          if (!stream->connected) continue;
          pw_stream_disconnect(stream->stream.get());
          if (stream->followsDefault && !sink.empty()) stream->source = sink;
          spa_dict_item item = SPA_DICT_ITEM_INIT(PW_KEY_TARGET_OBJECT, stream->source.c_str());
          spa_dict dict = SPA_DICT_INIT(&item, 1);
          pw_stream_update_properties(stream->stream.get(), &dict);
          (void)self->connect(*stream);
        }
        return 0;
      },
      0, defaultSink.data(), defaultSink.size(), false, this);
}

std::vector<CaptureNode> CaptureStreams::nodes() const {
  std::lock_guard lock(nodesMutex_);
  std::vector<CaptureNode> nodes;
  for (const auto& [id, node] : nodes_) nodes.push_back(node);
  return nodes;
}

}  // namespace brontide::linux::pipewire
