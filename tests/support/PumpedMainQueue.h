#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <utility>

#include "base/MainQueue.h"

namespace brontide::rig {

// A wall-clock main queue whose work runs only inside pumpUntil(), on the thread calling it: for adapter tests,
// where the test thread is the main thread.
class PumpedMainQueue final : public MainQueue {
 public:
  using Clock = std::chrono::steady_clock;

  void post(std::function<void()> work) override { postDelayed(Duration{0}, std::move(work)); }

  void postDelayed(Duration delay, std::function<void()> work) override {
    {
      std::lock_guard lock(mutex_);
      queue_.emplace(std::make_pair(Clock::now() + delay, ++sequence_), std::move(work));
    }
    wake_.notify_all();
  }

  std::unique_ptr<RepeatingTimer> scheduleRepeating(Duration period, std::function<void()> tick) override {
    auto timer = std::make_unique<Timer>();
    scheduleTick(period, std::make_shared<std::function<void()>>(std::move(tick)), timer->alive);
    return timer;
  }

  // Runs due work until `done` holds or `deadline` (a guard against hangs) passes; returns `done()`.
  bool pumpUntil(const std::function<bool()>& done, std::chrono::milliseconds deadline) {
    const auto until = Clock::now() + deadline;
    while (!done()) {
      std::unique_lock lock(mutex_);
      const auto now = Clock::now();
      if (now >= until) return done();
      auto next = queue_.begin();
      if (next == queue_.end() || next->first.first > now) {
        // Poll too: `done` may watch state that other threads change without posting.
        auto wakeAt = std::min(until, now + std::chrono::milliseconds(20));
        if (next != queue_.end()) wakeAt = std::min(wakeAt, next->first.first);
        wake_.wait_until(lock, wakeAt);
        continue;
      }
      auto work = std::move(next->second);
      queue_.erase(next);
      lock.unlock();
      work();
    }
    return true;
  }

  // Runs due work for `span`.
  void pumpFor(std::chrono::milliseconds span) {
    pumpUntil([] { return false; }, span);
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

  std::mutex mutex_;
  std::condition_variable wake_;
  std::uint64_t sequence_ = 0;
  std::map<std::pair<Clock::time_point, std::uint64_t>, std::function<void()>> queue_;
};

}  // namespace brontide::rig
