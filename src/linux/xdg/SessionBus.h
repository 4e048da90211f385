#pragma once

#include <chrono>
#include <memory>

#include "base/Log.h"
#include "base/MainQueue.h"

// GIO's types, declared here so that Qt's `signals` keyword never meets gio.h in a file that includes this.
struct _GCancellable;
struct _GDBusConnection;

namespace brontide::linux::xdg {

// Keeps the session bus from ending the process. Reading a GSettings key (the icon theme) starts dconf, which
// takes GLib's shared session-bus connection; GLib closes such a connection with SIGTERM when the bus goes away,
// and SIGTERM is the user's stop. This takes the same shared connection and turns that off, and once it has
// closed asks every 2 s for the next one, to do the same to it. Main thread.
class SessionBusGuard {
 public:
  SessionBusGuard(MainQueue& queue, Log& log);
  ~SessionBusGuard();
  SessionBusGuard(const SessionBusGuard&) = delete;
  SessionBusGuard& operator=(const SessionBusGuard&) = delete;

  static constexpr auto kCheckInterval = std::chrono::seconds(2);

 private:
  friend struct SessionBusAnswer;
  void check();
  void found(_GDBusConnection* connection);

  Log& log_;
  _GCancellable* cancellable_;
  _GDBusConnection* connection_ = nullptr;
  bool asked_ = false;
  bool asking_ = false;
  bool lost_ = false;
  std::unique_ptr<RepeatingTimer> timer_;
};

}  // namespace brontide::linux::xdg
