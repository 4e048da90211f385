#pragma once

#include <cstdint>
#include <expected>
#include <functional>
#include <memory>
#include <span>
#include <string>

#include "base/Error.h"

namespace brontide {

// What the controller needs of the loopback stream server (implemented by StreamServer).
class FrameServer {
 public:
  virtual ~FrameServer() = default;
  // Any thread; returns at once.
  virtual void broadcast(std::span<const std::uint8_t> bytes) = 0;
  // Main thread; closes every client and the port, also when the owner drops the server at once.
  virtual void stop() = 0;
};

// onReady(port) and onError(error) are delivered on the main thread; errors are ServerFailed.
using MakeServer = std::function<std::expected<std::shared_ptr<FrameServer>, Error>(
    std::function<void(std::uint16_t port)> onReady, std::function<void(Error error)> onError)>;

}  // namespace brontide
