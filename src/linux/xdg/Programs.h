#pragma once

#include <string>
#include <string_view>

namespace brontide::linux::xdg {

// The last path component: "/usr/bin/totem" → "totem".
[[nodiscard]] std::string baseName(std::string_view path);
// A program that runs the script named by its first non-option argument (python3, sh, gjs…).
[[nodiscard]] bool isInterpreter(std::string_view binary);

}  // namespace brontide::linux::xdg
