#pragma once

#include <gst/gst.h>

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "base/Log.h"
#include "base/MainQueue.h"
#include "controller/Player.h"
#include "linux/gstreamer/Handles.h"

namespace brontide::linux::gstreamer {

// Player on a GStreamer pipeline (HTTP source, AAC parser and decoder, a forward buffer counted in decoded time),
// each item playing into its own PipeWire stream (PlaybackStream, fed from an appsink by a pump thread).
// Public members: main thread only. Pipelines, bus watches and the stall watch run on the
// "brontide.player" thread with its own GMainContext; item events reach the main thread via MainQueue.
// pw_init must have run before construction; GStreamer is initialised on the player thread.
class GstPlayer final : public Player {
 public:
  GstPlayer(MainQueue& mainQueue, Log& log);
  ~GstPlayer() override;
  GstPlayer(const GstPlayer&) = delete;
  GstPlayer& operator=(const GstPlayer&) = delete;

  void setAllowsExternalPlayback(bool allowed) override;
  void setAutomaticallyWaitsToMinimizeStalling(bool waits) override;
  [[nodiscard]] ItemId makeItem(const std::string& address, double preferredForwardBufferSeconds) override;
  void replaceCurrentItem(ItemId item) override;
  [[nodiscard]] ItemId currentItem() const override;
  void play() override;
  void pause() override;
  [[nodiscard]] ObservationToken observe(ItemId item, ItemEvent event, std::function<void()> handler) override;
  void removeObservation(ObservationToken token) override;

  // The sink (its node.name) that items play to from now on, the current one included; nullopt = the
  // session's default. Needs external playback allowed. A current item restarts its stream on the new
  // sink at once (same item, a gap of about the forward buffer): a stream is never moved while it plays.
  void setRouteTarget(std::optional<std::string> sinkNodeName);
  // node.name of the current item's PipeWire stream (a new one for every item); nullopt without an item.
  [[nodiscard]] std::optional<std::string> currentNodeName() const;

 private:
  struct ItemRequest {
    std::string address;
    double forwardBufferSeconds = 0;
  };
  struct Observation {
    ItemId item;
    ItemEvent event;
    std::function<void()> handler;
  };
  // Main-thread bookkeeping, shared so that events posted to the main queue can outlive the player.
  struct Observers {
    ItemId current = 0;
    ObservationToken lastToken = 0;
    std::map<ObservationToken, Observation> byToken;
  };
  struct Stream;

  // Main thread: replaces the player thread's stream with one for `item` (none without a request).
  void restartCurrentItem(ItemId item, std::optional<ItemRequest> request);

  // Player thread.
  void invoke(std::function<void()> work);
  static gboolean drainCommands(gpointer self);
  static gboolean checkStall(gpointer self);
  static gboolean onBusMessage(GstBus* bus, GstMessage* message, gpointer stream);
  // The item's PipeWire stream failed: restarts the item instead of failing it, when that fits.
  void outputLost(Stream& stream, const std::string& reason);
  // The forward buffer ran dry, or filled again (streaming threads).
  static void onForwardUnderrun(GstElement* queue, gpointer stream);
  static void onForwardFilled(GstElement* queue, gpointer stream);
  // Runs `work` on the player thread if `stream` is still the current one then.
  static void whileCurrent(Stream& stream, void (*work)(GstPlayer&, Stream&));
  void checkForwardBuffer(Stream& stream);
  std::unique_ptr<Stream> startStream(ItemId item, const ItemRequest& request, const std::optional<std::string>& target);
  void applyState(Stream& stream);
  void retire(std::unique_ptr<Stream> stream);
  void finish(Stream& stream, ItemEvent event);
  void deliver(ItemId item, ItemEvent event);

  MainQueue& mainQueue_;
  Log& log_;

  // Main thread.
  std::shared_ptr<Observers> observers_ = std::make_shared<Observers>();
  std::map<ItemId, ItemRequest> items_;
  ItemId lastItem_ = 0;
  bool allowsExternalPlayback_ = false;
  std::optional<std::string> routeTarget_;

  std::mutex commandsMutex_;
  std::deque<std::function<void()>> commands_;

  // Player thread, after construction.
  bool playing_ = false;
  bool waitsToMinimizeStalling_ = true;
  std::uint64_t lastSerial_ = 0;
  gint64 lastOutputRestartUs_ = 0;
  std::unique_ptr<Stream> stream_;

  gstreamer::MainContext context_;
  gstreamer::MainLoop loop_;
  gstreamer::AttachedSource stallWatch_;
  std::thread thread_;
};

}  // namespace brontide::linux::gstreamer
