#pragma once

#include <chrono>
#include <functional>
#include <memory>

namespace brontide {

// A repeating timer on the main thread; ticks stop once it is invalidated or destroyed.
class RepeatingTimer {
 public:
  virtual ~RepeatingTimer() = default;
  virtual void invalidate() = 0;
};

// The main thread's run loop: the controller, the views and every timer live here.
// post/postDelayed may be called from any thread; scheduleRepeating only from the main thread.
class MainQueue {
 public:
  using Duration = std::chrono::milliseconds;

  virtual ~MainQueue() = default;

  // Runs `work` later on the main thread, in posting order.
  virtual void post(std::function<void()> work) = 0;
  // Runs `work` on the main thread once `delay` has passed (monotonic time).
  virtual void postDelayed(Duration delay, std::function<void()> work) = 0;
  // Calls `tick` on the main thread every `period` until the timer is invalidated or destroyed.
  [[nodiscard]] virtual std::unique_ptr<RepeatingTimer> scheduleRepeating(
      Duration period, std::function<void()> tick) = 0;
};

}  // namespace brontide
