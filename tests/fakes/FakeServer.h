#pragma once

#include <cstdint>
#include <expected>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "controller/FrameServer.h"

namespace brontide::fakes {

// Collects broadcast bytes; any thread.
class FakeServer final : public FrameServer {
 public:
  void broadcast(std::span<const std::uint8_t> bytes) override {
    std::lock_guard guard(mutex_);
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
  }
  void stop() override {}
  [[nodiscard]] std::vector<std::uint8_t> bytes() const {
    std::lock_guard guard(mutex_);
    return bytes_;
  }
 private:
  mutable std::mutex mutex_;
  std::vector<std::uint8_t> bytes_;
};

// Makes FakeServers (or fails as told); keeps each one's callbacks so a test can report ready or an error,
// also for a server its owner has already dropped. Main thread.
class FakeServerFactory {
 public:
  struct Made {
    std::weak_ptr<FakeServer> server;
    std::function<void(std::uint16_t)> onReady;
    std::function<void(std::string)> onError;
    void ready(std::uint16_t port) const { onReady(port); }
    void fail(std::string message) const { onError(std::move(message)); }
  };

  [[nodiscard]] MakeServer make() {
    return [this](std::function<void(std::uint16_t)> onReady, std::function<void(std::string)> onError)
               -> std::expected<std::shared_ptr<FrameServer>, std::string> {
      ++attempts;
      if (!failures.empty()) {
        auto failure = failures.front();
        failures.erase(failures.begin());
        return std::unexpected(failure);
      }
      auto server = std::make_shared<FakeServer>();
      made.push_back(Made{server, std::move(onReady), std::move(onError)});
      return server;
    };
  }
  [[nodiscard]] const Made& latest() const { return made.back(); }

  std::vector<Made> made;
  std::vector<std::string> failures;  // the next creations fail with these, in order
  int attempts = 0;
};

}  // namespace brontide::fakes
