#include "linux/xdg/KeyFiles.h"

#include <cerrno>
#include <cstring>
#include <fstream>

namespace brontide::linux::xdg {

std::expected<std::string, std::string> readSmallFile(const std::filesystem::path& path, std::size_t limit) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::unexpected(std::strerror(errno));
  std::string text(limit + 1, '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  if (in.bad()) return std::unexpected(std::strerror(errno));
  const auto got = static_cast<std::size_t>(in.gcount());
  if (got > limit) return std::unexpected("larger than " + std::to_string(limit) + " bytes");
  text.resize(got);
  return text;
}

std::expected<KeyFile, std::string> loadKeyFile(const std::filesystem::path& path) {
  auto text = readSmallFile(path, kMaxKeyFileBytes);
  if (!text) return std::unexpected(text.error());
  KeyFile file(g_key_file_new());
  GError* raw = nullptr;
  const auto flags = static_cast<GKeyFileFlags>(G_KEY_FILE_KEEP_TRANSLATIONS);
  if (!g_key_file_load_from_data(file.get(), text->data(), text->size(), flags, &raw)) {
    GErrorPtr error(raw);
    return std::unexpected(error ? error->message : "unreadable");
  }
  return file;
}

std::optional<std::string> keyString(GKeyFile* file, const char* group, const char* key) {
  GChars value(g_key_file_get_string(file, group, key, nullptr));
  if (!value) return std::nullopt;
  return std::string(value.get());
}

bool keyBool(GKeyFile* file, const char* group, const char* key, bool fallback) {
  GError* raw = nullptr;
  const gboolean value = g_key_file_get_boolean(file, group, key, &raw);
  if (raw) {
    g_error_free(raw);
    return fallback;
  }
  return value;
}

std::optional<std::vector<std::string>> keyList(GKeyFile* file, const char* group, const char* key) {
  gsize length = 0;
  GStrv values(g_key_file_get_string_list(file, group, key, &length, nullptr));
  if (!values) return std::nullopt;
  std::vector<std::string> list;
  for (gsize i = 0; i < length; ++i) {
    if (g_utf8_validate(values.get()[i], -1, nullptr)) list.emplace_back(values.get()[i]);
  }
  return list;
}

}  // namespace brontide::linux::xdg
