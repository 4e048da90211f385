#include "linux/pipewire/PipeWireAirPlayOutput.h"

#include <utility>

#include "linux/pipewire/RaopArguments.h"
#include "linux/pipewire/ReceiverSessions.h"

namespace brontide::linux::pipewire {

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

  // Runs `work` on the main thread unless the output is gone by then. Any thread.
  static void post(MainQueue& queue, const std::weak_ptr<Relay>& relay, std::function<void(Relay&)> work) {
    queue.post([relay, work = std::move(work)] {
      if (const auto r = relay.lock()) work(*r);
    });
  }
};

PipeWireAirPlayOutput::PipeWireAirPlayOutput(MainQueue& mainQueue, Log& log, Options options)
    : mainQueue_(mainQueue), relay_(std::make_shared<Relay>()) {
  relay_->routePlayer = std::move(options.routePlayer);
  const auto post = [&mainQueue, relay = std::weak_ptr(relay_)](std::function<void(Relay&)> work) {
    Relay::post(mainQueue, relay, std::move(work));
  };
  sessions_ = std::make_unique<ReceiverSessions>(
      log, ReceiverSessions::Events{
               .connected = [post](SinkId id) {
                 post([id](Relay& relay) {
                   if (relay.handlers.connected) relay.handlers.connected(id);
                 });
               },
               .streaming = [post](SinkId id) {
                 post([id](Relay& relay) {
                   if (relay.handlers.streaming) relay.handlers.streaming(id);
                 });
               },
               .failed = [post](SinkId id, const std::string& reason) {
                 post([id, reason](Relay& relay) {
                   if (relay.handlers.failed) relay.handlers.failed(id, reason);
                 });
               },
               .fanOutReady = [post](std::uint64_t generation) {
                 post([generation](Relay& relay) { relay.fanOutReady(generation); });
               },
           });
}

PipeWireAirPlayOutput::~PipeWireAirPlayOutput() = default;

void PipeWireAirPlayOutput::command(std::function<void(ReceiverSessions&)> work) {
  if (sessions_->running()) sessions_->post(std::move(work));
}

void PipeWireAirPlayOutput::setHandlers(Handlers handlers) { relay_->handlers = std::move(handlers); }

AirPlayOutput::SinkId PipeWireAirPlayOutput::open(const AirPlayReceiver& receiver, double volume) {
  const SinkId id = ++lastSink_;
  if (!sessions_->running()) {
    Relay::post(mainQueue_, relay_, [id](Relay& relay) {
      if (relay.handlers.failed) relay.handlers.failed(id, "no PipeWire loop");
    });
    return id;
  }
  command([id, receiver, volume](ReceiverSessions& s) { s.open(id, receiver, volume); });
  return id;
}

void PipeWireAirPlayOutput::close(SinkId sink) {
  command([sink](ReceiverSessions& s) { s.close(sink); });
}

void PipeWireAirPlayOutput::setVolume(SinkId sink, double volume) {
  command([sink, volume](ReceiverSessions& s) { s.setVolume(sink, volume); });
}

bool PipeWireAirPlayOutput::sendsVolume() const { return raopSinkSendsVolume(LibraryVersion::loaded()); }

void PipeWireAirPlayOutput::routeToReceivers() {
  relay_->toReceivers = true;
  command([](ReceiverSessions& s) { s.routeToReceivers(); });
}

void PipeWireAirPlayOutput::routeToDefault() {
  relay_->toReceivers = false;
  if (std::exchange(relay_->routedFanOut, 0) != 0 && relay_->routePlayer) relay_->routePlayer(std::nullopt);
  command([](ReceiverSessions& s) { s.routeToDefault(); });
}

void PipeWireAirPlayOutput::playLocally(bool on) {
  command([on](ReceiverSessions& s) { s.playLocally(on); });
}

void PipeWireAirPlayOutput::shutdown(std::function<void()> done) {
  sessions_->shutdown([&queue = mainQueue_, done = std::move(done)] { queue.post(done); });
}

std::string PipeWireAirPlayOutput::sinkNodeName(SinkId sink) { return "brontide.airplay." + std::to_string(sink); }

}  // namespace brontide::linux::pipewire
