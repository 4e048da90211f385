#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "linux/pipewire/Handles.h"

namespace brontide::linux::pipewire {

// One connection to the PipeWire daemon: a named thread loop, its context and core. Any thread; the
// loop's callbacks run on its own thread with the loop lock held. Needs pw_init() beforehand.
class PwConnection {
 public:
  // Starts the loop thread and connects; check connected() afterwards. Linux keeps 15 characters of a
  // thread name and drops a longer one, so `threadName` must fit.
  PwConnection(const std::string& threadName, pw_properties* coreProperties = nullptr);
  ~PwConnection();

  PwConnection(const PwConnection&) = delete;
  PwConnection& operator=(const PwConnection&) = delete;

  // Any thread; a reconnect on the loop thread may change it at any time.
  [[nodiscard]] bool connected() const { return connected_.load(std::memory_order_acquire); }
  // The negative errno of the failed connection, or of the last core error.
  [[nodiscard]] int lastError() const { return lastError_; }
  [[nodiscard]] pw_thread_loop* threadLoop() const { return loop_.get(); }
  [[nodiscard]] pw_loop* loop() const { return pw_thread_loop_get_loop(loop_.get()); }
  [[nodiscard]] pw_core* core() const { return core_.get(); }
  [[nodiscard]] bool inLoopThread() const { return pw_thread_loop_in_thread(loop_.get()); }
  // True once the daemon hung up (EPIPE).
  [[nodiscard]] bool daemonGone() const { return daemonGone_; }

  // Waits, with the loop lock held by the caller, until the daemon has handled everything sent so far.
  // Returns 0, the core error that arrived meanwhile, or -ETIMEDOUT.
  [[nodiscard]] int roundTrip(std::chrono::milliseconds timeout);
  // Waits with the lock held until `done()` or the timeout; wakes on any signal of the loop.
  template <class Predicate>
  bool waitUntil(Predicate done, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return done();
      timedWait(left);
    }
    return true;
  }
  // Wakes every waiter; callbacks call it after recording something a waiter may want.
  void signal() { pw_thread_loop_signal(loop_.get(), false); }

  // Replaces a core whose daemon has gone by a new connection; with the loop lock held, after every proxy of
  // the old core has been destroyed. Returns 0 or the negative errno of the failed connection.
  int reconnect();

  // Starts neither the loop nor a connection: the owner adds its loop sources, calls start(), then connects on
  // the loop thread with reconnect(), again whenever the daemon is away. Check threadLoop() and context().
  struct Unstarted {};
  PwConnection(const std::string& threadName, Unstarted);
  // Starts the loop thread of an Unstarted connection; 0 or a negative errno.
  [[nodiscard]] int start();
  // Stops the loop thread, never from it; the owner may then destroy its loop sources without the lock.
  void stop();
  // For modules loaded into this process.
  [[nodiscard]] pw_context* context() const { return context_.get(); }
  // Drops the core with the loop lock held, after every proxy of it has been destroyed; connected() stays
  // false until reconnect().
  void disconnect();

  // Called on the loop thread for a core error on an object (the core itself is id 0).
  std::function<void(std::uint32_t id, int res, const std::string& message)> onError;

 private:
  void timedWait(std::chrono::milliseconds timeout);
  static void handleDone(void* data, std::uint32_t id, int seq);
  static void handleError(void* data, std::uint32_t id, int seq, int res, const char* message);

  void addCoreListener();

  PwProperties coreProperties_;  // a copy for reconnecting
  PwThreadLoop loop_;
  PwContext context_;
  PwCore core_;
  std::atomic<bool> connected_{false};  // mirrors core_ for readers without the loop lock
  HookGuard coreListener_;
  int lastSeq_ = -1;
  int lastError_ = 0;
  int errorCount_ = 0;
  bool daemonGone_ = false;
};

}  // namespace brontide::linux::pipewire
