#include "linux/xdg/KeyFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/Fd.h"

namespace brontide::linux::xdg {

std::expected<std::string, std::string> readSmallFile(const std::filesystem::path& path, std::size_t limit) {
  // Non-blocking, and only a regular file is read: a FIFO put where a file belongs would otherwise wait forever
  // in open() or read(). /proc files count as regular and report size 0, so the read goes to EOF, within limit.
  const Fd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  if (!fd) return std::unexpected(std::strerror(errno));
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0) return std::unexpected(std::strerror(errno));
  if (!S_ISREG(info.st_mode)) return std::unexpected("not a regular file");
  std::string text(limit + 1, '\0');
  std::size_t got = 0;
  while (got < text.size()) {
    const auto n = ::read(fd.get(), text.data() + got, text.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::unexpected(std::strerror(errno));
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
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
