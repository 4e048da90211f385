#pragma once

#include <map>
#include <string>
#include <vector>

#include "speaker_browser/AirPlayOutput.h"

namespace brontide::fakes {

// Keeps the open sinks and the player's route; the test answers for the receivers through the handlers.
class FakeAirPlayOutput final : public AirPlayOutput {
 public:
  enum class Route { none, receivers, computer };

  void setHandlers(Handlers h) override { handlers = std::move(h); }
  SinkId open(const AirPlayReceiver& receiver, double volume) override {
    open_[++lastId_] = receiver;
    volumes[lastId_] = volume;
    ++opens;
    return lastId_;
  }
  void close(SinkId sink) override { open_.erase(sink); }
  void setVolume(SinkId sink, double volume) override { volumes[sink] = volume; }
  bool sendsVolume() const override { return sends; }
  void routeToReceivers() override {
    route = Route::receivers;
    local = false;
  }
  void routeToDefault() override {
    route = Route::computer;
    local = false;
  }
  void playLocally(bool on) override { local = on; }

  // The open sink of the receiver called `name`, or 0.
  [[nodiscard]] SinkId sinkOf(const std::string& name) const {
    for (const auto& [id, receiver] : open_)
      if (receiver.name == name) return id;
    return 0;
  }
  [[nodiscard]] std::vector<std::string> openNames() const {
    std::vector<std::string> names;
    for (const auto& [id, receiver] : open_) names.push_back(receiver.name);
    return names;
  }
  [[nodiscard]] const AirPlayReceiver& receiver(SinkId sink) const { return open_.at(sink); }

  void connect(const std::string& name) { handlers.connected(sinkOf(name)); }
  // The sink of `name` fails and, like the real one, is gone.
  void fail(const std::string& name) {
    const auto id = sinkOf(name);
    open_.erase(id);
    handlers.failed(id, "refused");
  }

  Handlers handlers;
  Route route = Route::none;
  bool local = false;  // the computer's output beside the receivers
  std::map<SinkId, double> volumes;  // from open() on
  bool sends = true;
  int opens = 0;

 private:
  std::map<SinkId, AirPlayReceiver> open_;
  SinkId lastId_ = 0;
};

}  // namespace brontide::fakes
