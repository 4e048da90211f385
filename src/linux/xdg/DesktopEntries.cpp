#include "linux/xdg/DesktopEntries.h"

#include <algorithm>
#include <expected>
#include <system_error>
#include <utility>

#include "linux/xdg/KeyFiles.h"
#include "linux/xdg/Programs.h"

namespace brontide::linux::xdg {
namespace {

constexpr const char* kGroup = "Desktop Entry";

std::string lower(std::string_view text) {
  std::string result(text);
  std::ranges::transform(result, result.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return result;
}

bool anyIn(const std::vector<std::string>& desktops, const std::vector<std::string>& list) {
  return std::ranges::any_of(desktops, [&](const auto& desktop) { return std::ranges::find(list, desktop) != list.end(); });
}

std::optional<std::string> nonEmpty(std::optional<std::string> value) {
  if (value && value->empty()) return std::nullopt;
  return value;
}

// Error: unreadable, so it shadows nothing. Nothing: readable but deliberately not shown (it shadows).
std::expected<std::optional<DesktopEntry>, std::string> parseEntry(const std::filesystem::path& path, std::string id,
                                                                   const std::vector<std::string>& desktops) {
  auto file = loadKeyFile(path);
  if (!file) return std::unexpected(file.error());
  GKeyFile* keys = file->get();
  if (!g_key_file_has_group(keys, kGroup)) return std::unexpected("no [Desktop Entry] group");
  if (keyString(keys, kGroup, "Type") != "Application") return std::optional<DesktopEntry>();
  if (keyBool(keys, kGroup, "Hidden", false) || keyBool(keys, kGroup, "NoDisplay", false)) {
    return std::optional<DesktopEntry>();
  }
  if (auto only = keyList(keys, kGroup, "OnlyShowIn"); only && !anyIn(desktops, *only)) {
    return std::optional<DesktopEntry>();
  }
  if (auto notIn = keyList(keys, kGroup, "NotShowIn"); notIn && anyIn(desktops, *notIn)) {
    return std::optional<DesktopEntry>();
  }
  DesktopEntry entry;
  entry.id = std::move(id);
  entry.path = path;
  entry.name = nonEmpty(keyString(keys, kGroup, "Name[es]"));
  if (!entry.name) entry.name = nonEmpty(keyString(keys, kGroup, "Name[es_ES]"));
  if (!entry.name) entry.name = nonEmpty(keyString(keys, kGroup, "Name"));
  entry.icon = keyString(keys, kGroup, "Icon").value_or("");
  if (auto exec = keyString(keys, kGroup, "Exec")) entry.binaries = execBinaries(*exec);
  if (auto tryExec = keyString(keys, kGroup, "TryExec"); tryExec && !tryExec->empty()) {
    if (auto name = baseName(*tryExec); std::ranges::find(entry.binaries, name) == entry.binaries.end()) {
      entry.binaries.push_back(name);
    }
  }
  return std::optional<DesktopEntry>(std::move(entry));
}

// The .desktop files under one applications folder, with their IDs, sorted by ID for a stable result.
std::vector<std::pair<std::string, std::filesystem::path>> filesUnder(const std::filesystem::path& folder) {
  std::vector<std::pair<std::string, std::filesystem::path>> files;
  std::error_code error;
  std::filesystem::recursive_directory_iterator it(
      folder, std::filesystem::directory_options::skip_permission_denied, error);
  for (; !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
    const auto& path = it->path();
    std::error_code statError;
    if (path.extension() != ".desktop" || !std::filesystem::is_regular_file(path, statError)) continue;
    auto relative = path.lexically_relative(folder).string();
    relative.resize(relative.size() - std::string_view(".desktop").size());
    std::ranges::replace(relative, '/', '-');
    files.emplace_back(std::move(relative), path);
  }
  std::ranges::sort(files);
  return files;
}

}  // namespace

std::vector<std::string> execBinaries(std::string_view exec) {
  const std::string line(exec);
  gint argc = 0;
  gchar** raw = nullptr;
  if (!g_shell_parse_argv(line.c_str(), &argc, &raw, nullptr)) return {};
  GStrv argv(raw);
  gint i = 0;
  if (i < argc && baseName(argv.get()[i]) == "env") {
    ++i;
    while (i < argc && (argv.get()[i][0] == '-' || std::string_view(argv.get()[i]).find('=') != std::string_view::npos)) ++i;
  }
  if (i >= argc) return {};
  auto program = baseName(argv.get()[i]);
  if (program == "flatpak" || program == "snap") return {};
  if (!isInterpreter(program)) return {program};
  for (++i; i < argc; ++i) {
    std::string_view argument = argv.get()[i];
    if (argument == "-c") return {};
    if (!argument.starts_with('-')) return {baseName(argument)};
  }
  return {};
}

std::optional<DesktopEntry> readDesktopEntry(const std::filesystem::path& path, std::string id,
                                             const std::vector<std::string>& currentDesktops, std::string* problem) {
  auto entry = parseEntry(path, std::move(id), currentDesktops);
  if (!entry) {
    if (problem) *problem = entry.error();
    return std::nullopt;
  }
  return *entry;
}

DesktopEntries::DesktopEntries(XdgDirs dirs, Log& log) : dirs_(std::move(dirs)), log_(log) {}

DesktopEntries::Stamps DesktopEntries::folderStamps() const {
  Stamps stamps;
  auto note = [&](const std::filesystem::path& folder) {
    std::error_code error;
    if (auto time = std::filesystem::last_write_time(folder, error); !error) stamps[folder] = time;
  };
  std::vector<std::filesystem::path> bases{dirs_.dataHome};
  bases.insert(bases.end(), dirs_.dataDirs.begin(), dirs_.dataDirs.end());
  for (const auto& base : bases) {
    const auto folder = base / "applications";
    note(folder);
    std::error_code error;
    std::filesystem::recursive_directory_iterator it(
        folder, std::filesystem::directory_options::skip_permission_denied, error);
    for (; !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
      std::error_code statError;
      if (it->is_directory(statError)) note(it->path());
    }
  }
  return stamps;
}

void DesktopEntries::refreshIfDue() {
  if (!loaded_ || std::chrono::steady_clock::now() - checked_ >= std::chrono::seconds(1)) refresh();
}

void DesktopEntries::refresh() {
  checked_ = std::chrono::steady_clock::now();
  auto stamps = folderStamps();
  if (loaded_ && stamps == stamps_) return;
  stamps_ = std::move(stamps);
  loaded_ = true;
  entries_.clear();
  byId_.clear();
  byBinary_.clear();
  std::set<std::string> seen;
  std::vector<std::filesystem::path> bases{dirs_.dataHome};
  bases.insert(bases.end(), dirs_.dataDirs.begin(), dirs_.dataDirs.end());
  for (const auto& base : bases) {
    for (auto& [id, path] : filesUnder(base / "applications")) {
      if (seen.contains(id)) continue;
      auto entry = parseEntry(path, id, dirs_.currentDesktops);
      if (!entry) {
        if (reported_.insert(path).second) log_.notice("desktop entry skipped: " + path.string() + ": " + entry.error());
        continue;
      }
      seen.insert(id);
      if (!*entry) continue;
      const auto index = entries_.size();
      byId_.emplace(lower(id), index);
      for (const auto& binary : (*entry)->binaries) byBinary_.emplace(binary, index);
      entries_.push_back(std::move(**entry));
    }
  }
}

const std::vector<DesktopEntry>& DesktopEntries::entries() {
  refreshIfDue();
  return entries_;
}

std::optional<DesktopEntry> DesktopEntries::findById(std::string_view id) {
  refreshIfDue();
  if (auto it = byId_.find(lower(id)); it != byId_.end()) return entries_[it->second];
  return std::nullopt;
}

std::optional<DesktopEntry> DesktopEntries::findByBinary(std::string_view binary) {
  refreshIfDue();
  if (auto it = byBinary_.find(std::string(binary)); it != byBinary_.end()) return entries_[it->second];
  return std::nullopt;
}

std::optional<std::string> DesktopEntries::desktopIdForBinary(std::string_view binary) {
  if (auto entry = findByBinary(binary)) return entry->id;
  return std::nullopt;
}

}  // namespace brontide::linux::xdg
