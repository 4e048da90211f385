#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "linux/xdg/XdgDirs.h"

namespace brontide::linux::xdg::testing {

// A throwaway home with XDG folders, pointed at by the XDG variables while the test runs.
class XdgTree {
 public:
  XdgTree() {
    std::string pattern = (std::filesystem::temp_directory_path() / "brontide-xdg-XXXXXX").string();
    root_ = ::mkdtemp(pattern.data());
    set("HOME", root_ / "home");
    set("XDG_DATA_HOME", root_ / "home/.local/share");
    set("XDG_DATA_DIRS", (root_ / "usr/local/share").string() + ":relative/ignored:" + (root_ / "usr/share").string());
    set("XDG_CONFIG_HOME", root_ / "home/.config");
    set("XDG_CONFIG_DIRS", root_ / "etc/xdg");
    ::setenv("XDG_CURRENT_DESKTOP", "ubuntu:GNOME", 1);
  }
  ~XdgTree() {
    std::error_code error;
    std::filesystem::permissions(root_, std::filesystem::perms::owner_all, error);
    std::filesystem::remove_all(root_, error);
  }
  XdgTree(const XdgTree&) = delete;
  XdgTree& operator=(const XdgTree&) = delete;

  [[nodiscard]] const std::filesystem::path& root() const { return root_; }
  [[nodiscard]] XdgDirs dirs() const { return XdgDirs::fromEnvironment(); }

  // Writes `text` to root/relative, creating folders; returns the full path.
  std::filesystem::path write(const std::filesystem::path& relative, const std::string& text) const {
    const auto path = root_ / relative;
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }

 private:
  static void set(const char* name, const std::filesystem::path& value) { ::setenv(name, value.c_str(), 1); }

  std::filesystem::path root_;
};

}  // namespace brontide::linux::xdg::testing
