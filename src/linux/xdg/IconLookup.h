#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "linux/xdg/XdgDirs.h"

namespace brontide::linux::xdg {

// Resolves an Icon value through the icon theme: the theme, the themes it inherits, hicolor, then pixmaps.
// Stateless apart from its settings; any thread.
class IconLookup {
 public:
  // `theme` empty: only hicolor and pixmaps. `size`: the pixel size the list wants.
  IconLookup(XdgDirs dirs, std::string theme, int size = 48);

  // An existing image file, or empty when the icon cannot be found.
  [[nodiscard]] std::string find(const std::string& icon) const;

 private:
  [[nodiscard]] std::vector<std::filesystem::path> baseDirs() const;
  [[nodiscard]] std::string findInTheme(const std::string& theme, const std::string& icon) const;
  [[nodiscard]] std::vector<std::string> themeChain() const;

  XdgDirs dirs_;
  std::string theme_;
  int size_;
};

// The desktop's icon theme: GNOME's setting, KDE's kdeglobals or GTK's settings.ini; empty when unknown.
[[nodiscard]] std::string currentIconTheme(const XdgDirs& dirs);

}  // namespace brontide::linux::xdg
