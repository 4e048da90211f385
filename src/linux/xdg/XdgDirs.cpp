#include "linux/xdg/XdgDirs.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <string_view>

namespace brontide::linux::xdg {
namespace {

std::string variable(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

std::vector<std::string> split(std::string_view text, char separator) {
  std::vector<std::string> parts;
  while (!text.empty()) {
    const auto end = text.find(separator);
    if (auto part = text.substr(0, end); !part.empty()) parts.emplace_back(part);
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return parts;
}

std::filesystem::path homeDirectory() {
  if (auto home = variable("HOME"); !home.empty()) return home;
  if (const passwd* entry = getpwuid(getuid()); entry && entry->pw_dir) return entry->pw_dir;
  return "/";
}

std::filesystem::path single(const char* name, const std::filesystem::path& fallback) {
  std::filesystem::path value = variable(name);
  return value.is_absolute() ? value : fallback;
}

std::vector<std::filesystem::path> list(const char* name, std::vector<std::filesystem::path> fallback) {
  std::vector<std::filesystem::path> paths;
  for (const auto& part : split(variable(name), ':')) {
    if (std::filesystem::path path = part; path.is_absolute()) paths.push_back(path);
  }
  return paths.empty() ? fallback : paths;
}

}  // namespace

XdgDirs XdgDirs::fromEnvironment() {
  XdgDirs dirs;
  dirs.home = homeDirectory();
  dirs.dataHome = single("XDG_DATA_HOME", dirs.home / ".local/share");
  dirs.dataDirs = list("XDG_DATA_DIRS", {"/usr/local/share", "/usr/share"});
  dirs.configHome = single("XDG_CONFIG_HOME", dirs.home / ".config");
  dirs.configDirs = list("XDG_CONFIG_DIRS", {"/etc/xdg"});
  dirs.currentDesktops = split(variable("XDG_CURRENT_DESKTOP"), ':');
  return dirs;
}

}  // namespace brontide::linux::xdg
