// Over 400 lines: the pipeline, its bus, the buffering rule and the route all run on the player's own GLib
// context and share its item state; the thread-hop rules stay readable only together.
#include "linux/gstreamer/GstPlayer.h"

#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include <gst/app/gstappsink.h>

#include "base/Format.h"
#include "linux/pipewire/PlaybackStream.h"

namespace brontide::linux::gstreamer {

namespace {

constexpr const char* kApplicationId = "brontide.player";
constexpr const char* kApplicationName = "Brontide";
// ~3 s without bytes, or buffering that long, is a stall.
constexpr gint64 kStallAfterUs = 3 * G_USEC_PER_SEC;
// Also how soon a full forward buffer is noticed behind a prerolled sink.
constexpr guint kStallWatchPeriodMs = 50;
constexpr gint64 kOutputRestartSpacingUs = 10 * G_USEC_PER_SEC;
// Backstop: souphttpsrc gives up on a silent connection with an ERROR after this long.
constexpr guint kSourceTimeoutSeconds = 5;
// Room above the forward buffer while the sink prerolls.
constexpr guint64 kForwardHeadroomNs = 500 * GST_MSECOND;
constexpr int kOutputRate = 48000;
// What the appsink hands the pump thread: what the PipeWire stream takes.
constexpr const char* kOutputCaps = "audio/x-raw, format=(string)F32LE, layout=(string)interleaved, rate=(int)48000, "
                                    "channels=(int)2";
// After the source: our server sends ADTS and nothing else.
constexpr const char* kDecodeChain[] = {"aacparse", "avdec_aac", "audioconvert", "audioresample"};

// For the %llu of log lines.
unsigned long long number(Player::ItemId item) { return item; }

std::string nodeNameFor(Player::ItemId item) {
  return formatString("brontide.player.%d.%llu", static_cast<int>(::getpid()), number(item));
}

}  // namespace

// What the HTTP source's streaming thread reports; read by the stall watch.
struct SourceActivity {
  std::atomic<gint64> lastBytesUs{0};
  std::atomic<bool> ended{false};
};

// One item's pipeline and what its bus has said. Player thread only, except `source`.
struct GstPlayer::Stream {
  GstPlayer* owner = nullptr;
  ItemId item = 0;
  std::uint64_t serial = 0;  // one per stream: a restarted item gets a new one
  ItemRequest request;
  std::optional<std::string> target;
  guint64 forwardNs = 0;
  GstElement* forward = nullptr;  // owned by the pipeline
  gstreamer::SourceActivity source;
  gint64 playingSinceUs = 0;
  gint64 bufferingSinceUs = 0;
  bool prerolled = false;
  bool buffering = false;
  bool finished = false;
  bool stallReported = false;
  GstState requested = GST_STATE_VOID_PENDING;
  // Destroyed in reverse: the bus watch is removed first, then the pipeline reaches NULL (its streaming
  // threads, which hold `source`, are gone, and the appsink lets the pump go), then the pump ends and the output
  // goes. The output is interrupted first, so the pump never waits on a stream that no longer plays.
  std::unique_ptr<pipewire::PlaybackStream> output;
  std::jthread pump;
  gstreamer::Pipeline pipeline;
  gstreamer::AttachedSource busWatch;

  ~Stream() {
    if (output) output->interrupt();
  }
};

namespace {

GstPadProbeReturn onSourceData(GstPad*, GstPadProbeInfo* info, gpointer data) {
  // Streaming thread: only stamp the stream's atomics.
  auto* activity = static_cast<gstreamer::SourceActivity*>(data);
  if (GST_PAD_PROBE_INFO_TYPE(info) & GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM) {
    if (GST_EVENT_TYPE(GST_PAD_PROBE_INFO_EVENT(info)) == GST_EVENT_EOS) activity->ended = true;
  } else {
    activity->lastBytesUs.store(g_get_monotonic_time(), std::memory_order_relaxed);
  }
  return GST_PAD_PROBE_OK;
}

// The pump thread: the decoded sound from the appsink into the PipeWire stream, until the pipeline stops or
// the stream is interrupted.
void pump(GstElement* appsink, pipewire::PlaybackStream* output) {
  pthread_setname_np(pthread_self(), "brontide.pump");
  while (GstSample* sample = gst_app_sink_pull_sample(GST_APP_SINK(appsink))) {
    bool more = true;
    GstMapInfo map;
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    if (buffer != nullptr && gst_buffer_map(buffer, &map, GST_MAP_READ)) {
      more = output->write(std::span(reinterpret_cast<const float*>(map.data), map.size / sizeof(float)));
      gst_buffer_unmap(buffer, &map);
    }
    gst_sample_unref(sample);
    if (!more) break;
  }
  gst_object_unref(appsink);
}

void setUpSource(GstElement* source, gstreamer::SourceActivity* data) {
  if (g_object_class_find_property(G_OBJECT_GET_CLASS(source), "timeout") != nullptr) {
    g_object_set(source, "timeout", kSourceTimeoutSeconds, nullptr);
  }
  gstreamer::Pad pad{gst_element_get_static_pad(source, "src")};
  if (!pad) return;
  gst_pad_add_probe(pad.get(),
                    static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_BUFFER_LIST |
                                                 GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM),
                    &onSourceData, data, nullptr);
}

}  // namespace

GstPlayer::GstPlayer(MainQueue& mainQueue, Log& log) : mainQueue_(mainQueue), log_(log) {
  context_.reset(g_main_context_new());
  loop_.reset(g_main_loop_new(context_.get(), FALSE));
  stallWatch_.reset(g_timeout_source_new(kStallWatchPeriodMs));
  g_source_set_callback(stallWatch_.get(), &GstPlayer::checkStall, this, nullptr);
  g_source_attach(stallWatch_.get(), context_.get());
  thread_ = std::thread([this] {
    pthread_setname_np(pthread_self(), "brontide.player");
    // Here rather than on the main thread: the first run after an install or an update of the plugins rebuilds
    // GStreamer's registry, which took 0.3–0.4 s. Commands queue until it is done.
    gst_init(nullptr, nullptr);
    g_main_context_push_thread_default(context_.get());
    g_main_loop_run(loop_.get());
    g_main_context_pop_thread_default(context_.get());
  });
}

GstPlayer::~GstPlayer() {
  // Tear down on the player thread, where the bus watch and the stall watch run.
  invoke([this] {
    retire(std::move(stream_));
    stallWatch_.reset();
    g_main_loop_quit(loop_.get());
  });
  thread_.join();
}

void GstPlayer::setAllowsExternalPlayback(bool allowed) { allowsExternalPlayback_ = allowed; }

void GstPlayer::setAutomaticallyWaitsToMinimizeStalling(bool waits) {
  invoke([this, waits] {
    waitsToMinimizeStalling_ = waits;
    if (stream_) applyState(*stream_);
  });
}

Player::ItemId GstPlayer::makeItem(const std::string& address, double preferredForwardBufferSeconds) {
  const ItemId item = ++lastItem_;
  items_.emplace(item, ItemRequest{address, preferredForwardBufferSeconds});
  return item;
}

void GstPlayer::replaceCurrentItem(ItemId item) {
  if (item == observers_->current) return;
  std::optional<ItemRequest> request;
  if (item != 0) {
    const auto found = items_.find(item);
    if (found == items_.end()) {
      log_.notice(formatString("player: unknown item %llu, dropping the current one", number(item)));
      item = 0;
    } else {
      request = found->second;
      // Items made before this one are never played again: forget them.
      items_.erase(items_.begin(), found);
    }
  }
  observers_->current = item;
  restartCurrentItem(item, std::move(request));
}

Player::ItemId GstPlayer::currentItem() const { return observers_->current; }

void GstPlayer::play() {
  invoke([this] {
    if (playing_) return;
    playing_ = true;
    if (!stream_) return;
    stream_->playingSinceUs = g_get_monotonic_time();
    applyState(*stream_);
  });
}

void GstPlayer::pause() {
  invoke([this] {
    playing_ = false;
    if (stream_) applyState(*stream_);
  });
}

Player::ObservationToken GstPlayer::observe(ItemId item, ItemEvent event, std::function<void()> handler) {
  const auto token = ++observers_->lastToken;
  observers_->byToken.emplace(token, Observation{item, event, std::move(handler)});
  return token;
}

void GstPlayer::removeObservation(ObservationToken token) { observers_->byToken.erase(token); }

void GstPlayer::setRouteTarget(std::optional<std::string> sinkNodeName) {
  routeTarget_ = std::move(sinkNodeName);
  const ItemId item = observers_->current;
  if (item == 0 || !allowsExternalPlayback_) return;
  const auto found = items_.find(item);
  if (found == items_.end()) return;
  log_.notice(formatString("player: item %llu restarts on %s", number(item),
                           routeTarget_ ? routeTarget_->c_str() : "the default output"));
  restartCurrentItem(item, found->second);
}

void GstPlayer::restartCurrentItem(ItemId item, std::optional<ItemRequest> request) {
  auto target = allowsExternalPlayback_ ? routeTarget_ : std::nullopt;
  invoke([this, item, request = std::move(request), target = std::move(target)] {
    retire(std::move(stream_));
    if (request) stream_ = startStream(item, *request, target);
  });
}

std::optional<std::string> GstPlayer::currentNodeName() const {
  if (observers_->current == 0) return std::nullopt;
  return nodeNameFor(observers_->current);
}

void GstPlayer::invoke(std::function<void()> work) {
  bool wake = false;
  {
    std::lock_guard lock(commandsMutex_);
    wake = commands_.empty();
    commands_.push_back(std::move(work));
  }
  if (!wake) return;
  GSource* source = g_idle_source_new();
  g_source_set_priority(source, G_PRIORITY_DEFAULT);
  g_source_set_callback(source, &GstPlayer::drainCommands, this, nullptr);
  g_source_attach(source, context_.get());
  g_source_unref(source);
}

gboolean GstPlayer::drainCommands(gpointer self) {
  auto* player = static_cast<GstPlayer*>(self);
  std::deque<std::function<void()>> batch;
  {
    std::lock_guard lock(player->commandsMutex_);
    batch.swap(player->commands_);
  }
  for (auto& work : batch) work();
  return G_SOURCE_REMOVE;
}

std::unique_ptr<GstPlayer::Stream> GstPlayer::startStream(ItemId item, const ItemRequest& request,
                                                          const std::optional<std::string>& target) {
  auto stream = std::make_unique<Stream>();
  stream->owner = this;
  stream->item = item;
  stream->request = request;
  stream->target = target;
  const gint64 now = g_get_monotonic_time();
  stream->source.lastBytesUs = now;
  stream->playingSinceUs = now;

  stream->serial = ++lastSerial_;
  stream->buffering = true;  // the forward buffer starts empty
  stream->bufferingSinceUs = now;
  // No playbin: its typefinder waits for 2 KiB and its queue2 sizes the buffer in bytes, so a stream that
  // starts in digital silence (13-byte AAC frames) reached the sink seconds late, for good.
  GstElement* pipeline = gst_pipeline_new(nullptr);
  stream->pipeline.reset(GST_ELEMENT(gst_object_ref_sink(pipeline)));
  GError* rawError = nullptr;
  GstElement* source = gst_element_make_from_uri(GST_URI_SRC, request.address.c_str(), "source", &rawError);
  gstreamer::Error error{rawError};
  std::vector<GstElement*> chain{source};
  for (const char* factory : kDecodeChain) chain.push_back(gst_element_factory_make(factory, nullptr));
  GstElement* forward = gst_element_factory_make("queue", "forward");
  GstElement* sink = gst_element_factory_make("appsink", nullptr);
  chain.push_back(forward);
  chain.push_back(sink);
  if (std::ranges::find(chain, nullptr) != chain.end()) {
    for (GstElement* element : chain)
      if (element != nullptr) gst_object_unref(gst_object_ref_sink(element));
    log_.notice(formatString("player: item %llu failed: %s", number(item),
                             error ? error->message
                                   : "a GStreamer element is missing (aacparse, avdec_aac, audioconvert, "
                                     "audioresample, queue or appsink)"));
    stream->pipeline.reset();
    finish(*stream, ItemEvent::failedToPlayToEnd);
    return stream;
  }
  for (GstElement* element : chain) gst_bin_add(GST_BIN(pipeline), element);
  gstreamer::Caps outputCaps{gst_caps_from_string(kOutputCaps)};
  for (std::size_t i = 1; i < chain.size(); ++i) {
    if (gst_element_link_filtered(chain[i - 1], chain[i], chain[i] == forward ? outputCaps.get() : nullptr)) continue;
    log_.notice(formatString("player: item %llu failed: cannot link %s to %s", number(item),
                             GST_OBJECT_NAME(chain[i - 1]), GST_OBJECT_NAME(chain[i])));
    finish(*stream, ItemEvent::failedToPlayToEnd);
    return stream;
  }
  setUpSource(source, &stream->source);

  // No media.role: WirePlumber would give this stream the volume and mute saved for that role.
  auto output = pipewire::PlaybackStream::create({
      .nodeName = nodeNameFor(item),
      .description = kApplicationName,
      .applicationId = kApplicationId,
      .applicationName = kApplicationName,
      .target = target,
      .rate = kOutputRate,
      .lost = [this, serial = stream->serial](std::string reason) {
        invoke([this, serial, reason = std::move(reason)] {
          if (stream_ && stream_->serial == serial) outputLost(*stream_, reason);
        });
      },
  });
  if (!output) {
    log_.notice(formatString("player: item %llu failed: %s", number(item), output.error().c_str()));
    finish(*stream, ItemEvent::failedToPlayToEnd);
    return stream;
  }
  stream->output = std::move(*output);
  // Never waits on the clock: the PipeWire stream takes the sound at the pace it plays it, and the appsink's own
  // two buffers hold the pipeline back meanwhile.
  g_object_set(sink, "caps", outputCaps.get(), "sync", FALSE, "max-buffers", 2u, "drop", FALSE, nullptr);
  // The forward buffer, counted in decoded time right before the sink: it holds output back until full, then
  // lets it flow until it runs dry (see onForwardUnderrun).
  stream->forwardNs = static_cast<guint64>(std::max(request.forwardBufferSeconds, 0.0) * GST_SECOND);
  stream->forward = forward;
  g_object_set(forward, "min-threshold-time", stream->forwardNs, "max-size-time",
               stream->forwardNs + kForwardHeadroomNs, "max-size-buffers", 0u, "max-size-bytes", 0u, nullptr);
  g_signal_connect(forward, "underrun", G_CALLBACK(&GstPlayer::onForwardUnderrun), stream.get());
  g_signal_connect(forward, "pushing", G_CALLBACK(&GstPlayer::onForwardFilled), stream.get());

  gstreamer::Bus bus{gst_element_get_bus(pipeline)};
  stream->busWatch.reset(gst_bus_create_watch(bus.get()));
  g_source_set_callback(stream->busWatch.get(), G_SOURCE_FUNC(&GstPlayer::onBusMessage), stream.get(), nullptr);
  g_source_attach(stream->busWatch.get(), context_.get());

  stream->requested = GST_STATE_PAUSED;
  if (gst_element_set_state(pipeline, GST_STATE_PAUSED) == GST_STATE_CHANGE_FAILURE) {
    log_.notice(formatString("player: item %llu failed: %s would not start", number(item), request.address.c_str()));
    finish(*stream, ItemEvent::failedToPlayToEnd);
  } else {
    // Only a started appsink waits for samples: before PAUSED it answers at once that there are none.
    stream->pump = std::jthread(pump, GST_ELEMENT(gst_object_ref(sink)), stream->output.get());
  }
  applyState(*stream);
  return stream;
}

void GstPlayer::retire(std::unique_ptr<Stream> stream) {
  if (!stream) return;
  // Nothing of it reaches the player again: its bus watch and the forward queue's signals go first.
  stream->busWatch.reset();
  if (stream->forward != nullptr) g_signal_handlers_disconnect_by_data(stream->forward, stream.get());
}

// A stream whose daemon went away fails. Once in a while, and only for an item that had started, a new stream
// is tried for the same item instead, so a sound server that restarts is followed and one that is gone fails the
// item as before.
void GstPlayer::outputLost(Stream& stream, const std::string& reason) {
  if (stream.finished) return;
  const gint64 now = g_get_monotonic_time();
  if (!stream.prerolled || now - lastOutputRestartUs_ < kOutputRestartSpacingUs) {
    log_.notice(formatString("player: item %llu failed: its output is gone (%s)", number(stream.item), reason.c_str()));
    finish(stream, ItemEvent::failedToPlayToEnd);
    stream.output->interrupt();
    stream.requested = GST_STATE_NULL;
    gst_element_set_state(stream.pipeline.get(), GST_STATE_NULL);
    return;
  }
  lastOutputRestartUs_ = now;
  log_.notice(formatString("player: item %llu lost its output (%s); reconnecting", number(stream.item), reason.c_str()));
  const ItemId item = stream.item;
  const ItemRequest request = stream.request;
  const auto target = stream.target;
  retire(std::move(stream_));
  stream_ = startStream(item, request, target);
}

// Waiting to minimise stalling: hold in PAUSED until prerolled and the forward buffer is full.
// PLAYING on an empty buffer would play on with none and never rebuffer.
void GstPlayer::applyState(Stream& stream) {
  if (!stream.pipeline || stream.requested == GST_STATE_NULL) return;
  const bool ready = stream.prerolled && !stream.buffering;
  const GstState wanted = playing_ && (ready || !waitsToMinimizeStalling_) ? GST_STATE_PLAYING : GST_STATE_PAUSED;
  if (wanted == stream.requested) return;
  stream.requested = wanted;
  // A paused item leaves its output idle, as a paused sink would.
  if (stream.output) stream.output->setActive(wanted == GST_STATE_PLAYING);
  gst_element_set_state(stream.pipeline.get(), wanted);
}

gboolean GstPlayer::onBusMessage(GstBus*, GstMessage* message, gpointer data) {
  auto& stream = *static_cast<Stream*>(data);
  GstPlayer& player = *stream.owner;
  switch (GST_MESSAGE_TYPE(message)) {
    case GST_MESSAGE_ERROR: {
      // A reset connection brings several errors; the item fails once.
      if (stream.finished) break;
      GError* rawError = nullptr;
      gchar* rawDebug = nullptr;
      gst_message_parse_error(message, &rawError, &rawDebug);
      gstreamer::Error error{rawError};
      gstreamer::String debug{rawDebug};
      player.log_.notice(formatString("player: item %llu failed: %s (%s)", number(stream.item),
                                      error ? error->message : "unknown error", debug ? debug.get() : ""));
      player.finish(stream, ItemEvent::failedToPlayToEnd);
      // Release the connection and the PipeWire stream; a failed item never plays again.
      if (stream.output) stream.output->interrupt();
      stream.requested = GST_STATE_NULL;
      gst_element_set_state(stream.pipeline.get(), GST_STATE_NULL);
      break;
    }
    case GST_MESSAGE_EOS:
      if (stream.finished) break;
      player.log_.notice(formatString("player: item %llu played to its end", number(stream.item)));
      player.finish(stream, ItemEvent::didPlayToEnd);
      break;
    case GST_MESSAGE_WARNING: {
      GError* rawError = nullptr;
      gst_message_parse_warning(message, &rawError, nullptr);
      gstreamer::Error error{rawError};
      player.log_.notice(
          formatString("player: item %llu warning: %s", number(stream.item), error ? error->message : ""));
      break;
    }
    case GST_MESSAGE_ASYNC_DONE:
      if (GST_MESSAGE_SRC(message) == GST_OBJECT(stream.pipeline.get()) && !stream.prerolled) {
        stream.prerolled = true;
        player.applyState(stream);
      }
      break;
    default:
      break;
  }
  return G_SOURCE_CONTINUE;
}

// The queue's thresholds may change from its own signals. A threshold kept while playing would stop output at
// every dip below it, so it applies only from running dry until full again.
void GstPlayer::onForwardUnderrun(GstElement* queue, gpointer data) {
  auto& stream = *static_cast<Stream*>(data);
  g_object_set(queue, "min-threshold-time", stream.forwardNs, nullptr);
  whileCurrent(stream, [](GstPlayer& player, Stream& current) {
    if (!current.buffering) current.bufferingSinceUs = g_get_monotonic_time();
    current.buffering = true;
    player.applyState(current);
  });
}

void GstPlayer::onForwardFilled(GstElement*, gpointer data) {
  // Also said for every event passing an unfilled queue: the player thread looks at the level.
  whileCurrent(*static_cast<Stream*>(data),
               [](GstPlayer& player, Stream& current) { player.checkForwardBuffer(current); });
}

void GstPlayer::whileCurrent(Stream& stream, void (*work)(GstPlayer&, Stream&)) {
  // Streaming thread: the stream may be gone, or replaced, by the time the player thread runs this.
  GstPlayer* player = stream.owner;
  player->invoke([player, serial = stream.serial, work] {
    if (player->stream_ && player->stream_->serial == serial) work(*player, *player->stream_);
  });
}

// A sink that prerolled holds the queue's output: it fills without saying so, and is looked at from the watch too.
void GstPlayer::checkForwardBuffer(Stream& stream) {
  if (!stream.buffering || stream.forward == nullptr) return;
  guint64 level = 0;
  g_object_get(stream.forward, "current-level-time", &level, nullptr);
  if (level < stream.forwardNs) return;
  g_object_set(stream.forward, "min-threshold-time", guint64{0}, nullptr);
  stream.buffering = false;
  stream.stallReported = false;
  applyState(stream);
}

gboolean GstPlayer::checkStall(gpointer self) {
  auto& player = *static_cast<GstPlayer*>(self);
  if (player.stream_) player.checkForwardBuffer(*player.stream_);
  if (!player.stream_ || !player.playing_) return G_SOURCE_CONTINUE;
  Stream& stream = *player.stream_;
  if (stream.finished || stream.stallReported || stream.requested == GST_STATE_NULL) return G_SOURCE_CONTINUE;
  const gint64 now = g_get_monotonic_time();
  const gint64 quietUs = stream.source.ended ? 0
                                             : now - std::max(stream.source.lastBytesUs.load(std::memory_order_relaxed),
                                                              stream.playingSinceUs);
  const gint64 bufferingUs = stream.buffering ? now - std::max(stream.bufferingSinceUs, stream.playingSinceUs) : 0;
  if (quietUs < kStallAfterUs && bufferingUs < kStallAfterUs) return G_SOURCE_CONTINUE;
  stream.stallReported = true;
  player.log_.notice(formatString("player: item %llu stalled: no data for %.1f s, buffering for %.1f s",
                                  number(stream.item), quietUs / 1e6, bufferingUs / 1e6));
  player.deliver(stream.item, ItemEvent::playbackStalled);
  return G_SOURCE_CONTINUE;
}

void GstPlayer::finish(Stream& stream, ItemEvent event) {
  if (stream.finished) return;
  stream.finished = true;
  deliver(stream.item, event);
}

void GstPlayer::deliver(ItemId item, ItemEvent event) {
  // Only the item that is current when the event reaches the main thread hears it.
  mainQueue_.post([weak = std::weak_ptr(observers_), item, event] {
    const auto observers = weak.lock();
    if (!observers || observers->current != item) return;
    std::vector<ObservationToken> tokens;
    for (const auto& [token, observation] : observers->byToken) {
      if (observation.item == item && observation.event == event) tokens.push_back(token);
    }
    for (const auto token : tokens) {
      // A handler may remove later observations or replace the item.
      const auto found = observers->byToken.find(token);
      if (found == observers->byToken.end() || observers->current != item) continue;
      auto handler = found->second.handler;
      handler();
    }
  });
}

}  // namespace brontide::linux::gstreamer
