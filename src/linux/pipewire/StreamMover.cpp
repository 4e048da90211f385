#include "linux/pipewire/StreamMover.h"

namespace brontide::linux::pipewire {

void StreamMover::want(std::uint64_t tap, std::uint32_t node) {
  auto [it, added] = streams_.try_emplace(node);
  Stream& stream = it->second;
  stream.releaseAt.reset();
  const bool moved = !added;
  stream.taps.insert(tap);
  if (moved) return;
  stream.savedNode = backend_.read(node, kTargetNode);
  stream.savedObject = backend_.read(node, kTargetObject);
  // Our own sink as the "previous" target is a leftover (a killed instance, or the session manager
  // re-applying what it saved from our write): giving it back would keep the stream captured.
  if (stream.savedObject && pointsAtTarget(*stream.savedObject)) {
    stream.savedObject.reset();
    // Rewriting the same value changes nothing, so the session manager would not look at the stream again.
    backend_.write(node, kTargetObject, std::nullopt);
  }
  backend_.write(node, kTargetObject, MetadataValue{"Spa:String", target_});
  if (stream.savedNode) backend_.write(node, kTargetNode, std::nullopt);
}

void StreamMover::release(std::uint64_t tap, Clock::time_point now) {
  for (auto& [node, stream] : streams_) {
    if (stream.taps.erase(tap) && stream.taps.empty()) stream.releaseAt = now + kGrace;
  }
}

std::vector<std::uint32_t> StreamMover::expire(Clock::time_point now) {
  std::vector<std::uint32_t> givenBack;
  for (auto it = streams_.begin(); it != streams_.end();) {
    if (it->second.taps.empty() && it->second.releaseAt && *it->second.releaseAt <= now) {
      restore(it->first, it->second);
      givenBack.push_back(it->first);
      it = streams_.erase(it);
    } else {
      ++it;
    }
  }
  return givenBack;
}

std::optional<StreamMover::Clock::time_point> StreamMover::nextDeadline() const {
  std::optional<Clock::time_point> next;
  for (const auto& [node, stream] : streams_)
    if (stream.releaseAt && (!next || *stream.releaseAt < *next)) next = stream.releaseAt;
  return next;
}

void StreamMover::restoreAll() {
  for (const auto& [node, stream] : streams_) restore(node, stream);
  streams_.clear();
}

void StreamMover::forget(std::uint32_t node) { streams_.erase(node); }

std::vector<std::uint32_t> StreamMover::streamsOf(std::uint64_t tap) const {
  std::vector<std::uint32_t> nodes;
  for (const auto& [node, stream] : streams_)
    if (stream.taps.contains(tap)) nodes.push_back(node);
  return nodes;
}

bool StreamMover::pointsAtTarget(const MetadataValue& value) const {
  return !target_.empty() && (value.value == target_ || value.value == "\"" + target_ + "\"");
}

void StreamMover::restore(std::uint32_t node, const Stream& stream) {
  // The session manager stores every write as the user's choice for this stream: write back exactly
  // what was there, including its type, or delete what was absent.
  backend_.write(node, kTargetObject, stream.savedObject);
  if (stream.savedNode) backend_.write(node, kTargetNode, stream.savedNode);
}

}  // namespace brontide::linux::pipewire
