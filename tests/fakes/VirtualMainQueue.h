#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "base/MainQueue.h"

namespace brontide::fakes {

// A main queue whose work runs only on the test's thread: on a virtual clock the test moves (runReady(), advance())
// or, for adapter tests, following the wall clock inside pumpUntil(). post() may come from any thread.
class VirtualMainQueue final : public MainQueue {
 public:
  void post(std::function<void()> work) override { postDelayed(Duration{0}, std::move(work)); }

  void postDelayed(Duration delay, std::function<void()> work) override {
    {
      std::lock_guard lock(mutex_);
      queue_.emplace(std::make_pair(now_ + delay, ++sequence_), std::move(work));
    }
    wake_.notify_all();
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

  // Runs work as the wall clock reaches it until `done` holds or `deadline` (a guard against hangs) passes;
  // returns `done()`. `done` is polled too: it may watch state that other threads change without posting.
  bool pumpUntil(const std::function<bool()>& done, std::chrono::milliseconds deadline) {
    using Wall = std::chrono::steady_clock;
    const auto start = Wall::now();
    Duration passed{0};
    while (!done()) {
      const auto elapsed = std::chrono::duration_cast<Duration>(Wall::now() - start);
      advance(elapsed - passed);
      passed = elapsed;
      if (done()) return true;
      if (elapsed >= deadline) return false;
      std::unique_lock lock(mutex_);
      auto wait = std::min(Duration{20}, deadline - elapsed);
      if (!queue_.empty()) wait = std::clamp(queue_.begin()->first.first - now_, Duration{1}, wait);
      wake_.wait_for(lock, wait);
    }
    return true;
  }
  void pumpFor(std::chrono::milliseconds span) {
    pumpUntil([] { return false; }, span);
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
  std::condition_variable wake_;
  Duration now_{0};
  std::uint64_t sequence_ = 0;
  std::map<std::pair<Duration, std::uint64_t>, std::function<void()>> queue_;
  std::vector<std::shared_ptr<bool>> timers_;
};

}  // namespace brontide::fakes
