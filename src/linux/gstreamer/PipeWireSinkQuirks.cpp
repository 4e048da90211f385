#include "linux/gstreamer/PipeWireSinkQuirks.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "linux/gstreamer/Handles.h"

namespace brontide::linux::gstreamer {

namespace {

bool legacyPlugin() {
  static const bool legacy = [] {
    Plugin plugin{gst_registry_find_plugin(gst_registry_get(), "pipewire")};
    const char* version = plugin ? gst_plugin_get_version(plugin.get()) : nullptr;
    return version == nullptr || std::atoi(version) == 0;
  }();
  return legacy;
}

GstPadProbeReturn dropAllocationQuery(GstPad*, GstPadProbeInfo* info, gpointer) {
  GstQuery* query = GST_PAD_PROBE_INFO_QUERY(info);
  if (query != nullptr && GST_QUERY_TYPE(query) == GST_QUERY_ALLOCATION) return GST_PAD_PROBE_DROP;
  return GST_PAD_PROBE_OK;
}

// A new connection to the PipeWire daemon this process would reach; -1 when none.
int connectToPipeWire() {
  // The daemon's socket as libpipewire finds it: PIPEWIRE_REMOTE, in PIPEWIRE_RUNTIME_DIR or XDG_RUNTIME_DIR.
  const char* remote = std::getenv("PIPEWIRE_REMOTE");
  std::string path = remote != nullptr && *remote != '\0' ? remote : "pipewire-0";
  if (path.front() != '/') {
    const char* dir = std::getenv("PIPEWIRE_RUNTIME_DIR");
    if (dir == nullptr || *dir == '\0') dir = std::getenv("XDG_RUNTIME_DIR");
    if (dir == nullptr || *dir == '\0') return -1;
    path = std::string(dir) + "/" + path;
  }
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) return -1;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

void preparePipeWireSink(GstElement* pipeline, GstElement* sink, Fd& connection) {
  if (legacyPlugin()) {
    if (Pad sinkPad{gst_element_get_static_pad(sink, "sink")})
      gst_pad_add_probe(sinkPad.get(), GST_PAD_PROBE_TYPE_QUERY_DOWNSTREAM, &dropAllocationQuery, nullptr, nullptr);
    return;
  }
  gst_pipeline_use_clock(GST_PIPELINE(pipeline), Clock{gst_system_clock_obtain()}.get());
  connection.reset(connectToPipeWire());
  if (connection) g_object_set(sink, "fd", connection.get(), nullptr);
}

}  // namespace brontide::linux::gstreamer
