#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <thread>

#include "base/Log.h"
#include "base/MainQueue.h"
#include "controller/FrameServer.h"

namespace brontide {

// Connections that send nothing must not exhaust descriptors or memory: at most `connections` are held, a new one
// replaces the oldest that has not sent its request (or is closed when every held one has), and one that sends
// nothing for `requestWait` is closed. A player sends its request at once, so it always gets through.
struct StreamServerLimits {
  std::size_t connections = 64;
  std::chrono::milliseconds requestWait{5000};
};

// Loopback-only HTTP server that answers any request with one fixed header and then relays every
// broadcast buffer to each client. create/stop/destruction on the main thread (destruction on any
// thread but "brontide.server"), broadcast from any thread; all socket work runs on "brontide.server".
class StreamServer final : public FrameServer {
 public:
  static constexpr std::string_view kResponseHeader =
      "HTTP/1.1 200 OK\r\n"
      "Content-Type: audio/aac\r\n"
      "Cache-Control: no-cache, no-store\r\n"
      "Connection: close\r\n"
      "\r\n";
  // The one read made on a connection; the request itself is never examined.
  static constexpr std::size_t kRequestReadLimit = 16384;
  // A client with more than this queued unsent is disconnected, so one stuck reader cannot grow memory.
  static constexpr std::size_t kMaxQueuedBytes = std::size_t{1} << 20;

  using Limits = StreamServerLimits;

  // Binds 127.0.0.1 on a system-chosen port. onReady(port) and onError(message) are posted to
  // mainQueue, which (like log, when given) must outlive the server. On failure no callback ever fires.
  [[nodiscard]] static std::expected<std::shared_ptr<StreamServer>, Error> create(
      MainQueue& mainQueue, std::function<void(std::uint16_t)> onReady, std::function<void(Error)> onError,
      Log* log = nullptr, Limits limits = {});

  StreamServer(const StreamServer&) = delete;
  StreamServer& operator=(const StreamServer&) = delete;
  // Closes everything like stop() and joins "brontide.server".
  ~StreamServer() override;

  void broadcast(std::span<const std::uint8_t> bytes) override;
  void stop() override;

 private:
  struct Engine;
  struct State;

  StreamServer(std::shared_ptr<Engine> engine, std::shared_ptr<State> state, std::thread thread);

  std::shared_ptr<Engine> engine_;  // shared with the io thread, which may outlive a detached owner
  std::shared_ptr<State> state_;    // handlers hold it weakly; the clean-up of stop() holds it strongly
  std::thread thread_;
  std::atomic<bool> stopped_{false};
};

}  // namespace brontide
