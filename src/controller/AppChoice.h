#pragma once

#include <string>

namespace brontide {

class Workspace;

// How an application's icon is shown: an image file, or a named symbol when there is none.
struct AppIcon {
  std::string file;    // an image file path; empty when `symbol` is used
  std::string symbol;  // a symbol name such as "app.dashed"; empty when `file` is used
  friend bool operator==(const AppIcon&, const AppIcon&) = default;
};

// One selectable source application. Its identity in lists is `bundleID`.
struct AppChoice {
  std::string bundleID;
  std::string name;

  // Looked up on every call: the installed application's icon, else the "app.dashed" symbol.
  [[nodiscard]] AppIcon icon(Workspace& workspace) const;

  friend bool operator==(const AppChoice&, const AppChoice&) = default;
};

}  // namespace brontide
