#include "fakes/VirtualMainQueue.h"

#include <gtest/gtest.h>

#include <vector>

namespace brontide {
namespace {

using namespace std::chrono_literals;

TEST(VirtualMainQueue, RunsWorkInTimeThenPostingOrderAndTicksTimersOnlyWhileAlive) {
  fakes::VirtualMainQueue queue;
  std::vector<int> order;
  queue.postDelayed(20ms, [&] { order.push_back(3); });
  queue.post([&] { order.push_back(1); });
  queue.post([&] {
    order.push_back(2);
    queue.post([&] { order.push_back(21); });
  });
  queue.runReady();
  EXPECT_EQ(order, (std::vector<int>{1, 2, 21}));
  queue.advance(20ms);
  EXPECT_EQ(order.back(), 3);

  int ticks = 0;
  auto timer = queue.scheduleRepeating(50ms, [&] { ++ticks; });
  queue.advance(149ms);
  EXPECT_EQ(ticks, 2);
  EXPECT_EQ(queue.activeTimers(), 1);
  timer->invalidate();
  queue.advance(1s);
  EXPECT_EQ(ticks, 2);
  EXPECT_EQ(queue.activeTimers(), 0);
}

}  // namespace
}  // namespace brontide
