#pragma once

#include <cstdint>
#include <expected>
#include <functional>
#include <map>
#include <string>

#include "linux/pipewire/Handles.h"
#include "linux/pipewire/PwConnection.h"

namespace brontide::linux::pipewire {

// The virtual sink the player plays to while receivers are chosen; each receiver's loopback reads its monitor.
// Loop thread ("brontide.airplay").
class FanOutSink {
 public:
  // `changed` runs on the loop thread when the sink is bound or removed; `lingered` when a linger() has run out.
  FanOutSink(PwConnection& connection, std::function<void()> changed, std::function<void()> lingered);
  FanOutSink(const FanOutSink&) = delete;
  FanOutSink& operator=(const FanOutSink&) = delete;

  // Makes the sink unless it exists or there is no core; each sink made is a new generation.
  [[nodiscard]] std::expected<void, std::string> create();
  void destroy();
  // Made and in the graph (`nodes`: every node of the graph by id).
  [[nodiscard]] bool inGraph(const std::map<std::uint32_t, std::string>& nodes) const;
  // The server removed it; destroy() it.
  [[nodiscard]] bool removed() const { return removed_; }
  [[nodiscard]] std::uint64_t generation() const { return generation_; }
  // Calls `lingered` once the player's stream has had time to leave the sink.
  void linger();

 private:
  static void onLingerEnd(void* self, std::uint64_t expirations);

  PwConnection& connection_;
  std::function<void()> changed_;
  std::function<void()> lingered_;
  PwProxy proxy_;
  HookGuard hook_;
  std::uint32_t id_ = SPA_ID_INVALID;
  bool removed_ = false;
  std::uint64_t generation_ = 0;
  LoopSource lingerTimer_;  // made by the first linger()
};

}  // namespace brontide::linux::pipewire
