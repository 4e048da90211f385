#pragma once

#include <chrono>
#include <thread>

namespace brontide::testsupport {

// Polls `condition` every 50 ms until it holds or `timeout` passes (a guard against hangs, not a timing claim).
template <class Condition>
bool eventually(Condition condition, std::chrono::milliseconds timeout = std::chrono::milliseconds(10000)) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (condition()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

}  // namespace brontide::testsupport
