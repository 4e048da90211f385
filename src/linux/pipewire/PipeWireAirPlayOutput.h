#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "base/Log.h"
#include "base/MainQueue.h"
#include "speaker_browser/AirPlayOutput.h"

namespace brontide::linux::pipewire {

class ReceiverSessions;

// AirPlay output through PipeWire inside Brontide's own process: one libpipewire-module-raop-sink per open
// receiver, one virtual sink the player is sent to while receivers are chosen (through `routePlayer`, which
// restarts the player's stream there: a playing stream is never moved), and one libpipewire-module-loopback per
// receiver from that sink's monitor to its raop sink, so the server schedules every feed as an ordinary stream;
// with playLocally(), one more from that monitor to the default output, delayed by the receivers' latency.
// Public calls: main thread, never waiting for PipeWire. Everything PipeWire runs on the "brontide.airplay" loop
// thread; events reach the main thread through MainQueue. Reconnects when the PipeWire daemon restarts.
// Needs pw_init() beforehand.
class PipeWireAirPlayOutput final : public AirPlayOutput {
 public:
  // node.name of the virtual sink the player plays to while receivers are chosen.
  static constexpr const char* kFanOutSinkName = "brontide.airplay";

  struct Options {
    // Sends the player, its current item included, to this sink (node.name); nullopt = the default output.
    // Main thread; called once the sink is in the graph, and again whenever it had to be made anew.
    std::function<void(std::optional<std::string>)> routePlayer;
  };

  PipeWireAirPlayOutput(MainQueue& mainQueue, Log& log, Options options);
  ~PipeWireAirPlayOutput() override;
  PipeWireAirPlayOutput(const PipeWireAirPlayOutput&) = delete;
  PipeWireAirPlayOutput& operator=(const PipeWireAirPlayOutput&) = delete;

  void setHandlers(Handlers handlers) override;
  [[nodiscard]] SinkId open(const AirPlayReceiver& receiver, double volume) override;
  void close(SinkId sink) override;
  void setVolume(SinkId sink, double volume) override;
  [[nodiscard]] bool sendsVolume() const override;
  void routeToReceivers() override;
  void routeToDefault() override;
  void playLocally(bool on) override;

  // Closes every receiver's sink and leaves the daemon on the loop thread; `done` then runs on the main thread.
  // Nothing opens afterwards, and the destructor has nothing left to wait for. Once.
  void shutdown(std::function<void()> done);

  // node.name of an open sink (for tests and benchmarks); the name stays the same across the sink's life.
  [[nodiscard]] static std::string sinkNodeName(SinkId sink);

 private:
  struct Relay;
  void command(std::function<void(ReceiverSessions&)> work);

  MainQueue& mainQueue_;
  SinkId lastSink_ = 0;
  std::shared_ptr<Relay> relay_;  // main-thread side; posted events hold it weakly
  std::unique_ptr<ReceiverSessions> sessions_;
};

}  // namespace brontide::linux::pipewire
