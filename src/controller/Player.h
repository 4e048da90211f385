#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace brontide {

// The in-process media player of the loopback stream. Created once; main thread only.
// Item notifications are delivered on the main thread, each for the item it was observed on.
class Player {
 public:
  using ItemId = std::uint64_t;  // 0 = no item
  using ObservationToken = std::uint64_t;
  enum class ItemEvent { failedToPlayToEnd, didPlayToEnd, playbackStalled };

  virtual ~Player() = default;

  // Lets the player's output be routed to AirPlay receivers.
  virtual void setAllowsExternalPlayback(bool allowed) = 0;
  // Buffers before playing and after a stall.
  virtual void setAutomaticallyWaitsToMinimizeStalling(bool waits) = 0;

  // A new item for `address`, not yet current.
  [[nodiscard]] virtual ItemId makeItem(const std::string& address, double preferredForwardBufferSeconds) = 0;
  // Makes `item` current (dropping the old one); 0 removes the current item.
  virtual void replaceCurrentItem(ItemId item) = 0;
  [[nodiscard]] virtual ItemId currentItem() const = 0;
  virtual void play() = 0;
  virtual void pause() = 0;

  [[nodiscard]] virtual ObservationToken observe(ItemId item, ItemEvent event, std::function<void()> handler) = 0;
  virtual void removeObservation(ObservationToken token) = 0;
};

}  // namespace brontide
