#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace brontide::linux::pipewire {

// A typed value of the "default" metadata.
struct MetadataValue {
  std::string type;
  std::string value;
  friend bool operator==(const MetadataValue&, const MetadataValue&) = default;
};

// Owns every metadata write that diverts output streams into the tap sink. Counts the taps that want each
// stream, saves the stream's own routing keys before the first move and writes exactly those back once no
// tap has wanted it for a grace period (a tap replaced by another keeps its streams without a blip).
// Loop thread only; no PipeWire calls of its own.
class StreamMover {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::milliseconds kGrace{100};
  static constexpr std::string_view kTargetNode = "target.node";
  static constexpr std::string_view kTargetObject = "target.object";

  class Backend {
   public:
    virtual ~Backend() = default;
    [[nodiscard]] virtual std::optional<MetadataValue> read(std::uint32_t node, std::string_view key) = 0;
    // nullopt deletes the key.
    virtual void write(std::uint32_t node, std::string_view key, const std::optional<MetadataValue>& value) = 0;
  };

  explicit StreamMover(Backend& backend) : backend_(backend) {}

  // The node.name streams are pointed at (never a serial: the session manager would save it per role).
  void setTarget(std::string sinkName) { target_ = std::move(sinkName); }
  [[nodiscard]] const std::string& target() const { return target_; }

  void want(std::uint64_t tap, std::uint32_t node);
  // The tap wants none of its streams any more; each goes back once its grace has passed unwanted.
  void release(std::uint64_t tap, Clock::time_point now);
  // Gives back every stream whose grace has passed; returns them.
  std::vector<std::uint32_t> expire(Clock::time_point now);
  [[nodiscard]] std::optional<Clock::time_point> nextDeadline() const;
  // Gives back every stream now (shutdown).
  void restoreAll();
  // The node is gone: its id may be reused, so nothing is written for it.
  void forget(std::uint32_t node);
  // The metadata itself is gone (session manager restart): forget all saved routing without writing.
  void reset() { streams_.clear(); }

  [[nodiscard]] bool isMoved(std::uint32_t node) const { return streams_.contains(node); }
  [[nodiscard]] std::vector<std::uint32_t> streamsOf(std::uint64_t tap) const;
  // Whether the key's current value is one this mover wrote (a leftover when no stream claims it).
  [[nodiscard]] bool pointsAtTarget(const MetadataValue& value) const;

 private:
  struct Stream {
    std::set<std::uint64_t> taps;
    std::optional<MetadataValue> savedNode;
    std::optional<MetadataValue> savedObject;
    std::optional<Clock::time_point> releaseAt;
  };
  void restore(std::uint32_t node, const Stream& stream);

  Backend& backend_;
  std::string target_;
  std::map<std::uint32_t, Stream> streams_;
};

}  // namespace brontide::linux::pipewire
