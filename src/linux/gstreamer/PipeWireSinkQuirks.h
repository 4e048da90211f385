#pragma once

#include <gst/gst.h>

#include "base/Fd.h"

namespace brontide::linux::gstreamer {

// pipewiresink deadlocks in different places in its two generations; what the player does about each is decided
// on the plugin loaded at run time, not on the headers built with.
struct PipeWireSinkQuirks {
  // 0.3.x: activating the proposed buffer pool upstream, as a link brings a new format, deadlocks the pool's lock
  // against the loop's. Without the proposal the sink activates the pool itself at its first render.
  bool refuseAllocation = false;
  // 1.x: on a new format the loop thread waits, holding its lock, until the first render activates the pool. A
  // render waiting on the sink's own clock (frozen while the stream is inactive) never comes, and a state change
  // that needs the lock then waits for good: the pipeline takes the system clock, every stream gets a connection
  // of its own (the plugin shares one per fd) and a stream is torn down off the player thread.
  bool ownConnectionAndClock = false;

  [[nodiscard]] static const PipeWireSinkQuirks& loaded();
  // Sets up `sink`, in `pipeline`, against them; a connection it opens is `connection`, to close after the pipeline.
  void prepare(GstElement* pipeline, GstElement* sink, Fd& connection) const;
};

// A new connection to the PipeWire daemon this process would reach, for pipewiresink's "fd"; -1 when none.
[[nodiscard]] int connectToPipeWire();

}  // namespace brontide::linux::gstreamer
