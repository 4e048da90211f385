#pragma once

#include <gst/gst.h>

#include "base/Owned.h"

namespace brontide::linux::gstreamer {

inline void unrefObject(gpointer object) noexcept { gst_object_unref(object); }
// A pipeline must reach NULL before its last reference goes, or its streaming threads outlive it.
inline void stopAndUnref(GstElement* pipeline) noexcept {
  gst_element_set_state(pipeline, GST_STATE_NULL);
  gst_object_unref(pipeline);
}
inline void destroySource(GSource* source) noexcept {
  g_source_destroy(source);
  g_source_unref(source);
}

using Pipeline = Owned<GstElement, stopAndUnref>;
using Element = Owned<GstElement, unrefObject>;
using Bus = Owned<GstBus, unrefObject>;
using Pad = Owned<GstPad, unrefObject>;
using Plugin = Owned<GstPlugin, unrefObject>;
using Clock = Owned<GstClock, unrefObject>;
using Structure = Owned<GstStructure, gst_structure_free>;
using Caps = Owned<GstCaps, gst_caps_unref>;
using MainContext = Owned<GMainContext, g_main_context_unref>;
using MainLoop = Owned<GMainLoop, g_main_loop_unref>;
// An attached source: destroyed (detached) and released together.
using AttachedSource = Owned<GSource, destroySource>;
using Error = Owned<GError, g_error_free>;
using String = Owned<gchar, g_free>;

}  // namespace brontide::linux::gstreamer
