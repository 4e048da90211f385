#include "linux/pipewire/PlaybackStream.h"

#include <spa/utils/ringbuffer.h>

#include <algorithm>
#include <bit>
#include <cstring>

namespace brontide::linux::pipewire {

namespace {

constexpr std::uint32_t kFrameBytes = PlaybackStream::kChannels * sizeof(float);

}  // namespace

PlaybackStream::PlaybackStream(Options options)
    : options_(std::move(options)),
      connection_("brontide.out", pw_properties_new(PW_KEY_APP_NAME, options_.applicationName.c_str(), nullptr)) {
  queuedLimit_ = static_cast<std::uint32_t>(options_.rate * kQueuedSeconds) * kChannels;
  storage_.resize(std::bit_ceil(queuedLimit_ * 2));
  spa_ringbuffer_init(&ring_);
}

std::expected<std::unique_ptr<PlaybackStream>, std::string> PlaybackStream::create(Options options) {
  std::unique_ptr<PlaybackStream> self(new PlaybackStream(std::move(options)));
  PwConnection& connection = self->connection_;
  if (!connection.connected())
    return std::unexpected(std::string("no PipeWire daemon (") + std::strerror(-connection.lastError()) + ")");
  const Options& o = self->options_;
  const std::string latency = "1024/" + std::to_string(o.rate);
  pw_properties* props = pw_properties_new(
      PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY, "Playback", PW_KEY_NODE_NAME, o.nodeName.c_str(),
      PW_KEY_NODE_DESCRIPTION, o.description.c_str(), PW_KEY_APP_ID, o.applicationId.c_str(), PW_KEY_APP_NAME,
      o.applicationName.c_str(), PW_KEY_NODE_LATENCY, latency.c_str(), nullptr);
  if (o.target) pw_properties_set(props, PW_KEY_TARGET_OBJECT, o.target->c_str());

  LoopLock lock(connection.threadLoop());
  PlaybackStream* raw = self.get();
  connection.onError = [raw](std::uint32_t, int res, const std::string& message) {
    if (res == -EPIPE) onStateChanged(raw, PW_STREAM_STATE_STREAMING, PW_STREAM_STATE_ERROR, message.c_str());
  };
  self->stream_.reset(pw_stream_new(connection.core(), o.nodeName.c_str(), props));
  if (!self->stream_) return std::unexpected(std::string("cannot make a stream (") + std::strerror(errno) + ")");
  static const pw_stream_events kEvents = [] {
    pw_stream_events events{};
    events.version = PW_VERSION_STREAM_EVENTS;
    events.process = &PlaybackStream::onProcess;
    events.state_changed = &PlaybackStream::onStateChanged;
    return events;
  }();
  pw_stream_add_listener(self->stream_.get(), self->listener_.arm(), &kEvents, raw);

  std::uint8_t buffer[1024];
  spa_pod_builder builder = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
  const spa_pod* params[1] = {stereoFloatFormat(builder, o.rate)};
  const int res = pw_stream_connect(
      self->stream_.get(), PW_DIRECTION_OUTPUT, PW_ID_ANY,
      pw_stream_flags(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS | PW_STREAM_FLAG_RT_PROCESS |
                      PW_STREAM_FLAG_INACTIVE),
      params, 1);
  if (res < 0) return std::unexpected(std::string("cannot connect the stream (") + std::strerror(-res) + ")");
  return self;
}

PlaybackStream::~PlaybackStream() {
  interrupt();
  if (!connection_.threadLoop()) return;
  LoopLock lock(connection_.threadLoop());
  connection_.onError = nullptr;
  listener_.remove();
  stream_.reset();
}

bool PlaybackStream::write(std::span<const float> samples) {
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(samples.data());
  std::uint32_t left = static_cast<std::uint32_t>(samples.size_bytes()) / kFrameBytes * kFrameBytes;
  const auto size = static_cast<std::uint32_t>(storage_.size() * sizeof(float));
  const std::uint32_t limit = queuedLimit_ * sizeof(float);
  while (left > 0) {
    if (interrupted_.load(std::memory_order_acquire)) return false;
    std::uint32_t index = 0;
    const std::int32_t filled = spa_ringbuffer_get_write_index(&ring_, &index);
    const std::uint32_t room = filled >= std::int32_t(limit) ? 0 : limit - std::uint32_t(std::max(filled, 0));
    const std::uint32_t n = std::min(room, left) / kFrameBytes * kFrameBytes;
    if (n == 0) {
      // Sleeps until a cycle drains the ring (or interrupt()): polling woke this thread 500 times a second.
      const auto seen = drained_.load(std::memory_order_acquire);
      if (spa_ringbuffer_get_write_index(&ring_, &index) >= std::int32_t(limit) &&
          !interrupted_.load(std::memory_order_acquire))
        drained_.wait(seen, std::memory_order_acquire);
      continue;
    }
    spa_ringbuffer_write_data(&ring_, storage_.data(), size, index & (size - 1), bytes, n);
    spa_ringbuffer_write_update(&ring_, index + n);
    bytes += n;
    left -= n;
  }
  return true;
}

void PlaybackStream::interrupt() {
  interrupted_.store(true, std::memory_order_release);
  drained_.fetch_add(1, std::memory_order_release);
  drained_.notify_all();
}

void PlaybackStream::setActive(bool active) {
  LoopLock lock(connection_.threadLoop());
  active_ = active;
  // Until the server has the node, the flag would not reach it: the state change applies it then.
  if (stream_ && ready_) pw_stream_set_active(stream_.get(), active);
}

// The data thread, in real time: copies what is queued and fills the rest of the cycle with silence.
void PlaybackStream::onProcess(void* data) {
  auto& self = *static_cast<PlaybackStream*>(data);
  pw_buffer* buffer = pw_stream_dequeue_buffer(self.stream_.get());
  if (buffer == nullptr) return;
  spa_data& d = buffer->buffer->datas[0];
  if (d.data == nullptr || d.chunk == nullptr) {
    pw_stream_queue_buffer(self.stream_.get(), buffer);
    return;
  }
  std::uint32_t frames = d.maxsize / kFrameBytes;
  if (buffer->requested != 0) frames = std::min<std::uint32_t>(frames, static_cast<std::uint32_t>(buffer->requested));
  const std::uint32_t wanted = frames * kFrameBytes;
  std::uint32_t index = 0;
  const std::int32_t available = spa_ringbuffer_get_read_index(&self.ring_, &index);
  const std::uint32_t got = std::min(std::uint32_t(std::max(available, 0)), wanted) / kFrameBytes * kFrameBytes;
  if (got > 0) {
    const auto size = static_cast<std::uint32_t>(self.storage_.size() * sizeof(float));
    spa_ringbuffer_read_data(&self.ring_, self.storage_.data(), size, index & (size - 1), d.data, got);
    spa_ringbuffer_read_update(&self.ring_, index + got);
    // A futex wake, only when the producer waits: nothing that blocks this thread.
    self.drained_.fetch_add(1, std::memory_order_release);
    self.drained_.notify_one();
  }
  if (got < wanted) std::memset(static_cast<std::uint8_t*>(d.data) + got, 0, wanted - got);
  d.chunk->offset = 0;
  d.chunk->stride = kFrameBytes;
  d.chunk->size = wanted;
  pw_stream_queue_buffer(self.stream_.get(), buffer);
}

void PlaybackStream::onStateChanged(void* data, pw_stream_state old, pw_stream_state state, const char* error) {
  auto& self = *static_cast<PlaybackStream*>(data);
  if (state == PW_STREAM_STATE_PAUSED && !self.ready_) {
    self.ready_ = true;
    if (self.active_) pw_stream_set_active(self.stream_.get(), true);
  }
  const bool wasUp = old == PW_STREAM_STATE_PAUSED || old == PW_STREAM_STATE_STREAMING;
  if (self.lostSaid_ || !(state == PW_STREAM_STATE_ERROR || (wasUp && state == PW_STREAM_STATE_UNCONNECTED))) return;
  self.lostSaid_ = true;
  if (self.options_.lost) self.options_.lost(error != nullptr && *error != '\0' ? error : "disconnected");
}

}  // namespace brontide::linux::pipewire
