#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "base/MainQueue.h"

namespace brontide::fakes {

// A main queue on a virtual clock: nothing runs until the test calls runReady() or advance().
// post() may come from any thread (the real server and encoder post from theirs).
class VirtualMainQueue final : public MainQueue {
 public:
  void post(std::function<void()> work) override { postDelayed(Duration{0}, std::move(work)); }

  void postDelayed(Duration delay, std::function<void()> work) override {
    std::lock_guard lock(mutex_);
    queue_.emplace(std::make_pair(now_ + delay, ++sequence_), std::move(work));
  }

  std::unique_ptr<RepeatingTimer> scheduleRepeating(Duration period, std::function<void()> tick) override {
    auto timer = std::make_unique<Timer>();
    timers_.push_back(timer->alive);
    scheduleTick(period, std::make_shared<std::function<void()>>(std::move(tick)), timer->alive);
    return timer;
  }

  // Runs everything due at the current time, including work that it posts for now.
  void runReady() { advance(Duration{0}); }

  // Moves the clock forward, running every piece of work in time order as the clock passes it.
  void advance(Duration by) {
    std::unique_lock lock(mutex_);
    const auto until = now_ + by;
    for (;;) {
      auto it = queue_.begin();
      if (it == queue_.end() || it->first.first > until) break;
      now_ = std::max(now_, it->first.first);
      auto work = std::move(it->second);
      queue_.erase(it);
      lock.unlock();
      work();
      lock.lock();
    }
    now_ = until;
  }

  // Timers created and not yet invalidated or destroyed.
  [[nodiscard]] int activeTimers() const {
    return static_cast<int>(std::ranges::count_if(timers_, [](const auto& alive) { return *alive; }));
  }

 private:
  struct Timer final : RepeatingTimer {
    std::shared_ptr<bool> alive = std::make_shared<bool>(true);
    void invalidate() override { *alive = false; }
    ~Timer() override { invalidate(); }
  };

  void scheduleTick(Duration period, std::shared_ptr<std::function<void()>> tick, std::shared_ptr<bool> alive) {
    postDelayed(period, [this, period, tick, alive] {
      if (!*alive) return;
      (*tick)();
      if (*alive) scheduleTick(period, tick, alive);
    });
  }

  mutable std::mutex mutex_;
  Duration now_{0};
  std::uint64_t sequence_ = 0;
  std::map<std::pair<Duration, std::uint64_t>, std::function<void()>> queue_;
  std::vector<std::shared_ptr<bool>> timers_;
};

}  // namespace brontide::fakes
