#pragma once

#include <gst/gst.h>

#include "base/Fd.h"

namespace brontide::linux::gstreamer {

// pipewiresink deadlocks in different places in its two generations; what the player does about each is decided
// on the plugin loaded at run time, not on the headers built with.
// - 0.3.x: activating the proposed buffer pool upstream, as a link brings a new format, deadlocks the pool's lock
//   against the loop's. The proposal is refused: the sink activates the pool itself at its first render.
// - 1.x: on a new format the loop thread waits, holding its lock, until the first render activates the pool. A
//   render waiting on the sink's own clock (frozen while the stream is inactive) never comes, and a state change
//   that needs the lock then waits for good. The pipeline takes the system clock and every stream a connection of
//   its own (the plugin shares one per fd); a stream with one is torn down off the player thread.
// Sets up `sink`, in `pipeline`, for the plugin loaded; a connection it opens is `connection`, to close after the
// pipeline.
void preparePipeWireSink(GstElement* pipeline, GstElement* sink, Fd& connection);

}  // namespace brontide::linux::gstreamer
