#include "linux/xdg/SessionBus.h"

#include <gio/gio.h>

namespace brontide::linux::xdg {

struct SessionBusAnswer {
  static void arrived(GObject*, GAsyncResult* result, gpointer self) {
    GError* error = nullptr;
    GDBusConnection* connection = g_bus_get_finish(result, &error);
    if (connection) {
      static_cast<SessionBusGuard*>(self)->found(connection);
      return;
    }
    // Cancelled: the guard is gone. Otherwise no bus yet; the next check asks again.
    const bool cancelled = g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED);
    g_error_free(error);
    if (!cancelled) static_cast<SessionBusGuard*>(self)->asking_ = false;
  }
};

SessionBusGuard::SessionBusGuard(MainQueue& queue, Log& log) : log_(log), cancellable_(g_cancellable_new()) {
  check();
  timer_ = queue.scheduleRepeating(kCheckInterval, [this] { check(); });
}

SessionBusGuard::~SessionBusGuard() {
  timer_.reset();
  // A pending answer then finishes as cancelled and never reaches this object.
  g_cancellable_cancel(cancellable_);
  g_object_unref(cancellable_);
  if (connection_) g_object_unref(connection_);
}

void SessionBusGuard::check() {
  if (connection_ && !g_dbus_connection_is_closed(connection_)) return;
  if (connection_) {
    g_object_unref(connection_);
    connection_ = nullptr;
    lost_ = true;
    log_.notice("session bus: gone; Brontide keeps running and looks for it every 2 s");
  }
  // Without a bus at start nothing has one to lose; asking again would have GLib try to autolaunch one.
  if (asking_ || (asked_ && !lost_)) return;
  asking_ = asked_ = true;
  // Asynchronous: the answer comes back on this thread's GLib context, which Qt's event loop runs.
  g_bus_get(G_BUS_TYPE_SESSION, cancellable_, &SessionBusAnswer::arrived, this);
}

void SessionBusGuard::found(GDBusConnection* connection) {
  asking_ = false;
  g_dbus_connection_set_exit_on_close(connection, FALSE);
  connection_ = connection;
  if (lost_) {
    lost_ = false;
    log_.notice("session bus: back");
  }
}

}  // namespace brontide::linux::xdg
