#pragma once

#include <cstddef>
#include <expected>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "linux/xdg/Handles.h"

namespace brontide::linux::xdg {

// Desktop entries are a few KiB; anything beyond this is not one and is not read further.
inline constexpr std::size_t kMaxKeyFileBytes = 1 << 20;

// Reads at most `limit` bytes; a longer file is an error rather than a silently cut one.
[[nodiscard]] std::expected<std::string, std::string> readSmallFile(const std::filesystem::path& path,
                                                                    std::size_t limit);

// Parses a key file (desktop entry, index.theme, .flatpak-info) keeping every translation.
[[nodiscard]] std::expected<KeyFile, std::string> loadKeyFile(const std::filesystem::path& path);

// A string value, or nothing when the key is missing or its value is not valid UTF-8.
[[nodiscard]] std::optional<std::string> keyString(GKeyFile* file, const char* group, const char* key);
[[nodiscard]] bool keyBool(GKeyFile* file, const char* group, const char* key, bool fallback);
[[nodiscard]] std::optional<std::vector<std::string>> keyList(GKeyFile* file, const char* group, const char* key);

}  // namespace brontide::linux::xdg
