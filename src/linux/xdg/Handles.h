#pragma once

#include <glib.h>

#include <memory>

namespace brontide::xdg {

template <auto Free>
struct FreeWith {
  template <class T>
  void operator()(T* p) const noexcept {
    Free(p);
  }
};
template <class T, auto Free>
using Owned = std::unique_ptr<T, FreeWith<Free>>;

using KeyFile = Owned<GKeyFile, g_key_file_unref>;
using GErrorPtr = Owned<GError, g_error_free>;
using GChars = Owned<gchar, g_free>;
using GStrv = Owned<gchar*, g_strfreev>;

}  // namespace brontide::xdg
