#pragma once

#include <glib.h>

#include "base/Owned.h"

namespace brontide::linux::xdg {

using KeyFile = Owned<GKeyFile, g_key_file_unref>;
using GErrorPtr = Owned<GError, g_error_free>;
using GChars = Owned<gchar, g_free>;
using GStrv = Owned<gchar*, g_strfreev>;

}  // namespace brontide::linux::xdg
