#include "linux/xdg/IconLookup.h"

#include <gio/gio.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstdlib>
#include <optional>
#include <set>
#include <system_error>
#include <utility>

#include "linux/xdg/KeyFiles.h"

namespace brontide::linux::xdg {
namespace {

constexpr std::array<const char*, 3> kExtensions = {".png", ".svg", ".xpm"};
constexpr int kMaxInheritance = 16;

bool isFile(const std::filesystem::path& path) {
  std::error_code error;
  return std::filesystem::is_regular_file(path, error);
}

struct ThemeFolder {
  std::string name;
  int size = 0;
  int minSize = 0;
  int maxSize = 0;
  int threshold = 2;
  std::string type = "Threshold";

  [[nodiscard]] bool matches(int wanted) const {
    if (type == "Fixed") return size == wanted;
    if (type == "Scalable") return minSize <= wanted && wanted <= maxSize;
    return size - threshold <= wanted && wanted <= size + threshold;
  }
  [[nodiscard]] int distance(int wanted) const {
    if (type == "Fixed") return std::abs(size - wanted);
    const int low = type == "Scalable" ? minSize : size - threshold;
    const int high = type == "Scalable" ? maxSize : size + threshold;
    if (wanted < low) return low - wanted;
    if (wanted > high) return wanted - high;
    return 0;
  }
};

int keyInt(GKeyFile* file, const char* group, const char* key, int fallback) {
  GError* raw = nullptr;
  const gint value = g_key_file_get_integer(file, group, key, &raw);
  if (raw) {
    g_error_free(raw);
    return fallback;
  }
  return value;
}

// index.theme separates its lists with commas, not the desktop entries' semicolons.
std::expected<KeyFile, std::string> loadThemeIndex(const std::filesystem::path& path) {
  auto index = loadKeyFile(path);
  if (index) g_key_file_set_list_separator(index->get(), ',');
  return index;
}

std::vector<ThemeFolder> themeFolders(GKeyFile* index) {
  std::vector<ThemeFolder> folders;
  for (const auto& name : keyList(index, "Icon Theme", "Directories").value_or(std::vector<std::string>{})) {
    const char* group = name.c_str();
    if (!g_key_file_has_group(index, group) || keyInt(index, group, "Scale", 1) != 1) continue;
    ThemeFolder folder;
    folder.name = name;
    folder.size = keyInt(index, group, "Size", 0);
    if (folder.size <= 0) continue;
    folder.minSize = keyInt(index, group, "MinSize", folder.size);
    folder.maxSize = keyInt(index, group, "MaxSize", folder.size);
    folder.threshold = keyInt(index, group, "Threshold", 2);
    folder.type = keyString(index, group, "Type").value_or("Threshold");
    folders.push_back(std::move(folder));
  }
  return folders;
}

std::optional<std::string> settingsString(const char* schemaId, const char* key) {
  GSettingsSchemaSource* source = g_settings_schema_source_get_default();
  if (!source) return std::nullopt;
  GSettingsSchema* schema = g_settings_schema_source_lookup(source, schemaId, TRUE);
  if (!schema) return std::nullopt;
  std::optional<std::string> value;
  if (g_settings_schema_has_key(schema, key)) {
    GSettings* settings = g_settings_new_full(schema, nullptr, nullptr);
    GChars text(g_settings_get_string(settings, key));
    if (text && *text) value = text.get();
    g_object_unref(settings);
  }
  g_settings_schema_unref(schema);
  return value;
}

std::optional<std::string> iniString(const std::filesystem::path& path, const char* group, const char* key) {
  auto file = loadKeyFile(path);
  if (!file) return std::nullopt;
  auto value = keyString(file->get(), group, key);
  if (value && value->empty()) return std::nullopt;
  return value;
}

}  // namespace

IconLookup::IconLookup(XdgDirs dirs, std::string theme, int size)
    : dirs_(std::move(dirs)), theme_(std::move(theme)), size_(size) {}

std::vector<std::filesystem::path> IconLookup::baseDirs() const {
  std::vector<std::filesystem::path> bases{dirs_.home / ".icons", dirs_.dataHome / "icons"};
  for (const auto& dir : dirs_.dataDirs) bases.push_back(dir / "icons");
  return bases;
}

std::vector<std::string> IconLookup::themeChain() const {
  std::vector<std::string> chain;
  std::vector<std::string> pending;
  if (!theme_.empty()) pending.push_back(theme_);
  while (!pending.empty() && static_cast<int>(chain.size()) < kMaxInheritance) {
    auto theme = pending.front();
    pending.erase(pending.begin());
    if (theme.empty() || theme.find('/') != std::string::npos || std::ranges::find(chain, theme) != chain.end()) continue;
    chain.push_back(theme);
    for (const auto& base : baseDirs()) {
      if (auto index = loadThemeIndex(base / theme / "index.theme")) {
        auto parents = keyList(index->get(), "Icon Theme", "Inherits").value_or(std::vector<std::string>{});
        pending.insert(pending.end(), parents.begin(), parents.end());
        break;
      }
    }
  }
  if (std::ranges::find(chain, "hicolor") == chain.end()) chain.emplace_back("hicolor");
  return chain;
}

std::string IconLookup::findInTheme(const std::string& theme, const std::string& icon) const {
  std::vector<std::filesystem::path> roots;
  std::vector<ThemeFolder> folders;
  for (const auto& base : baseDirs()) {
    std::error_code error;
    if (!std::filesystem::is_directory(base / theme, error)) continue;
    roots.push_back(base / theme);
    if (folders.empty()) {
      if (auto index = loadThemeIndex(base / theme / "index.theme")) folders = themeFolders(index->get());
    }
  }
  for (const auto& folder : folders) {
    if (!folder.matches(size_)) continue;
    for (const auto& root : roots) {
      for (const char* extension : kExtensions) {
        if (auto path = root / folder.name / (icon + extension); isFile(path)) return path.string();
      }
    }
  }
  std::string closest;
  int best = INT_MAX;
  for (const auto& folder : folders) {
    const int distance = folder.distance(size_);
    if (distance >= best) continue;
    for (const auto& root : roots) {
      for (const char* extension : kExtensions) {
        if (auto path = root / folder.name / (icon + extension); isFile(path) && distance < best) {
          closest = path.string();
          best = distance;
        }
      }
    }
  }
  return closest;
}

std::string IconLookup::find(const std::string& icon) const {
  if (icon.empty()) return {};
  if (std::filesystem::path path = icon; path.is_absolute()) return isFile(path) ? icon : std::string();
  if (icon.find('/') != std::string::npos) return {};
  std::string name = icon;
  for (const char* extension : kExtensions) {
    if (name.ends_with(extension)) name.resize(name.size() - std::string_view(extension).size());
  }
  for (const auto& theme : themeChain()) {
    if (auto found = findInTheme(theme, name); !found.empty()) return found;
  }
  for (const auto& dir : dirs_.dataDirs) {
    for (const char* extension : kExtensions) {
      if (auto path = dir / "pixmaps" / (name + extension); isFile(path)) return path.string();
    }
  }
  return {};
}

std::string currentIconTheme(const XdgDirs& dirs) {
  auto on = [&](std::string_view desktop) { return std::ranges::find(dirs.currentDesktops, desktop) != dirs.currentDesktops.end(); };
  if (on("KDE")) return iniString(dirs.configHome / "kdeglobals", "Icons", "Theme").value_or("breeze");
  if (!on("GNOME") && !on("Unity") && !on("Budgie") && !on("Pantheon")) {
    if (auto theme = iniString(dirs.configHome / "gtk-3.0" / "settings.ini", "Settings", "gtk-icon-theme-name")) return *theme;
  }
  if (on("MATE")) {
    if (auto theme = settingsString("org.mate.interface", "icon-theme")) return *theme;
  }
  if (on("X-Cinnamon")) {
    if (auto theme = settingsString("org.cinnamon.desktop.interface", "icon-theme")) return *theme;
  }
  return settingsString("org.gnome.desktop.interface", "icon-theme").value_or("");
}

}  // namespace brontide::linux::xdg
