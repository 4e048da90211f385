#include "fakes/VirtualMainQueue.h"

#include <gtest/gtest.h>

#include <vector>

namespace brontide {
namespace {

TEST(VirtualMainQueue_Timers, TickOnlyWhileAlive) {
  fakes::VirtualMainQueue queue;
  int ticks = 0;
  auto timer = queue.scheduleRepeating(std::chrono::milliseconds(50), [&] { ++ticks; });
  queue.advance(std::chrono::milliseconds(149));
  EXPECT_EQ(ticks, 2);
  EXPECT_EQ(queue.activeTimers(), 1);
  timer->invalidate();
  queue.advance(std::chrono::seconds(1));
  EXPECT_EQ(ticks, 2);
  EXPECT_EQ(queue.activeTimers(), 0);
}

TEST(VirtualMainQueue_Order, DelayedWorkRunsInTimeThenPostingOrder) {
  fakes::VirtualMainQueue queue;
  std::vector<int> order;
  queue.postDelayed(std::chrono::milliseconds(20), [&] { order.push_back(3); });
  queue.post([&] { order.push_back(1); });
  queue.post([&] {
    order.push_back(2);
    queue.post([&] { order.push_back(21); });
  });
  queue.runReady();
  EXPECT_EQ(order, (std::vector<int>{1, 2, 21}));
  queue.advance(std::chrono::milliseconds(20));
  EXPECT_EQ(order.back(), 3);
}

}  // namespace
}  // namespace brontide
