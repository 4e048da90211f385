#include "linux/xdg/Programs.h"

#include <array>

namespace brontide::linux::xdg {

std::string baseName(std::string_view path) {
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  const auto slash = path.rfind('/');
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

bool isInterpreter(std::string_view binary) {
  static constexpr std::array<std::string_view, 11> kInterpreters = {
      "sh", "bash", "dash", "zsh", "perl", "ruby", "node", "nodejs", "gjs", "lua", "mono"};
  if (binary.starts_with("python")) return true;
  for (auto name : kInterpreters) {
    if (binary == name) return true;
  }
  return false;
}

}  // namespace brontide::linux::xdg
