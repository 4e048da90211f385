#pragma once

#include <cstddef>
#include <functional>
#include <utility>
#include <vector>

namespace brontide {

// Change notification for observable fields. Not thread-safe: connect and emit on one thread.
template <class... Args>
class Signal {
 public:
  using Slot = std::function<void(Args...)>;

  std::size_t connect(Slot slot) {
    slots_.emplace_back(++lastId_, std::move(slot));
    return lastId_;
  }

  void disconnect(std::size_t id) {
    std::erase_if(slots_, [id](const auto& entry) { return entry.first == id; });
  }

  void notify(const Args&... args) const {
    // A slot may connect or disconnect while we notify: walk a copy.
    const auto snapshot = slots_;
    for (const auto& [id, slot] : snapshot) slot(args...);
  }

 private:
  std::vector<std::pair<std::size_t, Slot>> slots_;
  std::size_t lastId_ = 0;
};

}  // namespace brontide
