#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "controller/Player.h"

namespace brontide::fakes {

// A player that records what it is told; the test raises item events with notifyCurrent(). Main thread.
class FakePlayer final : public Player {
 public:
  struct Item {
    ItemId id = 0;
    std::string address;
    double preferredForwardBufferSeconds = 0;
  };
  struct Observation {
    ItemId item = 0;
    ItemEvent event{};
    std::function<void()> handler;
  };

  void setAllowsExternalPlayback(bool allowed) override { allowsExternalPlayback = allowed; }
  void setAutomaticallyWaitsToMinimizeStalling(bool waits) override { waitsToMinimizeStalling = waits; }

  ItemId makeItem(const std::string& address, double preferredForwardBufferSeconds) override {
    items.push_back(Item{++lastItem_, address, preferredForwardBufferSeconds});
    return lastItem_;
  }
  void replaceCurrentItem(ItemId item) override {
    current_ = item;
    if (item == 0) playing = false;
  }
  [[nodiscard]] ItemId currentItem() const override { return current_; }
  void play() override {
    ++playCalls;
    playing = current_ != 0;
  }
  void pause() override { playing = false; }

  ObservationToken observe(ItemId item, ItemEvent event, std::function<void()> handler) override {
    observations.emplace(++lastToken_, Observation{item, event, std::move(handler)});
    return lastToken_;
  }
  void removeObservation(ObservationToken token) override { observations.erase(token); }

  // Delivers `event` for the current item to its observers, as the real player does on the main thread.
  void notifyCurrent(ItemEvent event) {
    std::vector<std::function<void()>> handlers;
    for (const auto& [token, o] : observations) {
      if (o.item == current_ && o.event == event) handlers.push_back(o.handler);
    }
    for (const auto& handler : handlers) handler();
  }

  bool allowsExternalPlayback = false;
  bool waitsToMinimizeStalling = false;
  bool playing = false;
  int playCalls = 0;
  std::vector<Item> items;
  std::map<ObservationToken, Observation> observations;

 private:
  ItemId lastItem_ = 0;
  ItemId current_ = 0;
  ObservationToken lastToken_ = 0;
};

}  // namespace brontide::fakes
