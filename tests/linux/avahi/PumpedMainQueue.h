#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <utility>

#include "base/MainQueue.h"

namespace brontide::rig {

// A real-time main queue the test thread pumps: the test thread is the main thread.
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
    repeat(period, std::make_shared<std::function<void()>>(std::move(tick)), timer->alive);
    return timer;
  }

  // Runs work as it falls due until `done` holds (checked after each piece of work) or `limit` passes.
  bool runUntil(const std::function<bool()>& done, Duration limit) {
    const auto deadline = Clock::now() + limit;
    for (;;) {
      if (done()) return true;
      std::unique_lock lock(mutex_);
      const auto now = Clock::now();
      if (now >= deadline) return done();
      auto it = queue_.begin();
      if (it != queue_.end() && it->first.first <= now) {
        auto work = std::move(it->second);
        queue_.erase(it);
        lock.unlock();
        work();
        continue;
      }
      auto until = deadline;
      if (it != queue_.end() && it->first.first < until) until = it->first.first;
      wake_.wait_until(lock, until);
    }
  }

  // Runs whatever falls due during `span`.
  void runFor(Duration span) {
    runUntil([] { return false; }, span);
  }

 private:
  struct Timer final : RepeatingTimer {
    std::shared_ptr<bool> alive = std::make_shared<bool>(true);
    void invalidate() override { *alive = false; }
    ~Timer() override { invalidate(); }
  };

  void repeat(Duration period, std::shared_ptr<std::function<void()>> tick, std::shared_ptr<bool> alive) {
    postDelayed(period, [this, period, tick, alive] {
      if (!*alive) return;
      (*tick)();
      if (*alive) repeat(period, tick, alive);
    });
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::uint64_t sequence_ = 0;
  std::map<std::pair<Clock::time_point, std::uint64_t>, std::function<void()>> queue_;
};

}  // namespace brontide::rig
