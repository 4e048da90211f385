#pragma once

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "base/Log.h"

namespace brontide::fakes {

// Keeps every line; any thread.
class RecordingLog final : public Log {
 public:
  void notice(const std::string& line) override {
    std::lock_guard guard(mutex_);
    lines_.push_back(line);
  }
  [[nodiscard]] bool contains(const std::string& text) const {
    std::lock_guard guard(mutex_);
    return std::ranges::any_of(lines_, [&](const std::string& line) { return line.contains(text); });
  }
  [[nodiscard]] std::vector<std::string> lines() const {
    std::lock_guard guard(mutex_);
    return lines_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
};

}  // namespace brontide::fakes
