#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace brontide::linux::xdg {

// The XDG base directories and current desktops, read once so tests can point them at a temporary tree.
struct XdgDirs {
  std::filesystem::path home;
  std::filesystem::path dataHome;
  std::vector<std::filesystem::path> dataDirs;
  std::filesystem::path configHome;
  std::vector<std::filesystem::path> configDirs;
  std::vector<std::string> currentDesktops;  // XDG_CURRENT_DESKTOP, in order

  // Relative paths in the variables are ignored, as the base directory rules require.
  [[nodiscard]] static XdgDirs fromEnvironment();
};

}  // namespace brontide::linux::xdg
