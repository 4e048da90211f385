#include "audio_tap/ApplicationIdentity.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <system_error>
#include <utility>
#include <vector>

namespace brontide {
namespace {

std::optional<std::string> property(const AudioProperties& props, std::string_view key) {
  if (auto it = props.find(key); it != props.end() && !it->second.empty()) return it->second;
  return std::nullopt;
}

std::optional<std::string> nodeThenClient(const AudioProperties& node, const AudioProperties& client,
                                          std::string_view key) {
  if (auto value = property(node, key)) return value;
  return property(client, key);
}

std::optional<std::int32_t> parsePid(const std::optional<std::string>& text) {
  if (!text) return std::nullopt;
  std::int32_t pid = 0;
  auto [end, ec] = std::from_chars(text->data(), text->data() + text->size(), pid);
  if (ec != std::errc{} || end != text->data() + text->size() || pid <= 0) return std::nullopt;
  return pid;
}

std::string baseName(std::string_view path) {
  if (auto slash = path.rfind('/'); slash != std::string_view::npos) path.remove_prefix(slash + 1);
  return std::string(path);
}

std::string lowered(std::string text) {
  std::ranges::transform(text, text.begin(), [](unsigned char c) { return char(std::tolower(c)); });
  return text;
}

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
  return text;
}

// The program an Exec line starts: its first word, past `env` and its assignments.
std::string execProgram(std::string_view exec) {
  std::vector<std::string> words;
  std::string word;
  bool quoted = false;
  for (char c : exec) {
    if (c == '"') {
      quoted = !quoted;
    } else if (!quoted && std::isspace(static_cast<unsigned char>(c))) {
      if (!word.empty()) words.push_back(std::exchange(word, {}));
    } else {
      word += c;
    }
  }
  if (!word.empty()) words.push_back(word);
  std::size_t i = 0;
  if (i < words.size() && baseName(words[i]) == "env") {
    ++i;
    while (i < words.size() && words[i].find('=') != std::string::npos) ++i;
  }
  return i < words.size() ? baseName(words[i]) : std::string{};
}

struct DesktopEntry {
  std::string id;
  std::string execProgram;
  std::string tryExecProgram;
};

std::optional<DesktopEntry> readDesktopEntry(const std::filesystem::path& file, std::string id) {
  std::ifstream in(file);
  if (!in) return std::nullopt;
  DesktopEntry entry{std::move(id), {}, {}};
  bool inMain = false, application = false, hidden = false;
  std::string line;
  while (std::getline(in, line)) {
    std::string_view text = trimmed(line);
    if (text.empty() || text.front() == '#') continue;
    if (text.front() == '[') {
      inMain = text == "[Desktop Entry]";
      continue;
    }
    if (!inMain) continue;
    auto eq = text.find('=');
    if (eq == std::string_view::npos) continue;
    auto key = trimmed(text.substr(0, eq));
    auto value = trimmed(text.substr(eq + 1));
    if (key == "Type") application = value == "Application";
    else if (key == "Exec") entry.execProgram = execProgram(value);
    else if (key == "TryExec") entry.tryExecProgram = baseName(value);
    else if ((key == "NoDisplay" || key == "Hidden") && value == "true") hidden = true;
  }
  if (!application || hidden) return std::nullopt;
  return entry;
}

std::vector<std::filesystem::path> applicationDirectories() {
  std::vector<std::filesystem::path> dirs;
  const char* dataHome = std::getenv("XDG_DATA_HOME");
  const char* home = std::getenv("HOME");
  if (dataHome && *dataHome) dirs.emplace_back(std::filesystem::path(dataHome) / "applications");
  else if (home && *home) dirs.emplace_back(std::filesystem::path(home) / ".local/share/applications");
  const char* dataDirs = std::getenv("XDG_DATA_DIRS");
  std::string list = dataDirs && *dataDirs ? dataDirs : "/usr/local/share:/usr/share";
  std::stringstream stream(list);
  for (std::string dir; std::getline(stream, dir, ':');)
    if (!dir.empty()) dirs.emplace_back(std::filesystem::path(dir) / "applications");
  return dirs;
}

// Desktop entries by desktop-file ID; an earlier directory shadows a later one.
std::vector<DesktopEntry> scanDesktopEntries() {
  std::vector<DesktopEntry> entries;
  std::vector<std::string> seen;
  for (const auto& dir : applicationDirectories()) {
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(dir, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
      const auto& path = it->path();
      if (path.extension() != ".desktop") continue;
      auto relative = path.lexically_relative(dir).string();
      relative.resize(relative.size() - std::string_view(".desktop").size());
      std::ranges::replace(relative, '/', '-');
      if (std::ranges::find(seen, relative) != seen.end()) continue;
      seen.push_back(relative);
      if (auto entry = readDesktopEntry(path, relative)) entries.push_back(std::move(*entry));
    }
  }
  return entries;
}

class DesktopIndex {
 public:
  std::optional<std::string> find(std::string_view binary) {
    using Clock = std::chrono::steady_clock;
    if (!scanned_) rescan(Clock::now());
    if (auto id = lookup(binary)) return id;
    if (Clock::now() - scannedAt_ >= std::chrono::seconds(10)) {
      rescan(Clock::now());
      return lookup(binary);
    }
    return std::nullopt;
  }

 private:
  void rescan(std::chrono::steady_clock::time_point now) {
    entries_ = scanDesktopEntries();
    scanned_ = true;
    scannedAt_ = now;
  }
  std::optional<std::string> lookup(std::string_view binary) const {
    for (const auto& entry : entries_)
      if (entry.execProgram == binary || entry.tryExecProgram == binary) return entry.id;
    return std::nullopt;
  }

  std::vector<DesktopEntry> entries_;
  bool scanned_ = false;
  std::chrono::steady_clock::time_point scannedAt_{};
};

}  // namespace

bool isPulseClient(const AudioProperties& node, const AudioProperties& client) {
  return property(client, "client.api") == "pipewire-pulse" || property(node, "client.api") == "pipewire-pulse";
}

std::optional<std::int32_t> applicationPid(const AudioProperties& node, const AudioProperties& client) {
  // Through the PulseAudio front end the connection's pid is the front end's own.
  if (isPulseClient(node, client)) return parsePid(nodeThenClient(node, client, "application.process.id"));
  if (auto pid = parsePid(property(client, "pipewire.sec.pid"))) return pid;
  return parsePid(nodeThenClient(node, client, "application.process.id"));
}

std::optional<std::string> parseFlatpakAppId(std::string_view info) {
  bool inApplication = false;
  while (!info.empty()) {
    auto end = info.find('\n');
    auto line = trimmed(info.substr(0, end));
    info.remove_prefix(end == std::string_view::npos ? info.size() : end + 1);
    if (line.empty() || line.front() == '#') continue;
    if (line.front() == '[') {
      inApplication = line == "[Application]";
      continue;
    }
    auto eq = line.find('=');
    if (inApplication && eq != std::string_view::npos && trimmed(line.substr(0, eq)) == "name") {
      auto value = trimmed(line.substr(eq + 1));
      if (!value.empty()) return std::string(value);
    }
  }
  return std::nullopt;
}

std::optional<std::string> applicationIdentity(const AudioProperties& node, const AudioProperties& client,
                                               const IdentityLookups& lookups) {
  const bool pulse = isPulseClient(node, client);
  auto identity = [&]() -> std::optional<std::string> {
    if (auto id = property(node, "application.id")) return id;
    if (auto id = property(client, "pipewire.access.portal.app_id")) return id;
    if (!pulse && lookups.flatpakAppId)
      if (auto pid = parsePid(property(client, "pipewire.sec.pid")))
        if (auto id = lookups.flatpakAppId(*pid)) return id;
    if (auto id = property(client, "application.id")) return id;
    auto binary = nodeThenClient(node, client, "application.process.binary");
    if (!binary && lookups.executable)
      if (auto pid = applicationPid(node, client))
        if (auto exe = lookups.executable(*pid)) binary = *exe;
    if (!binary) return std::nullopt;
    auto program = baseName(*binary);
    if (program.empty()) return std::nullopt;
    if (lookups.desktopFileId)
      if (auto id = lookups.desktopFileId(program)) return id;
    return program;
  }();
  if (!identity) return std::nullopt;
  auto result = lowered(std::move(*identity));
  if (result == "spotify") return "com.spotify.client";
  return result;
}

IdentityLookups systemIdentityLookups() {
  IdentityLookups lookups;
  lookups.flatpakAppId = [](std::int32_t pid) -> std::optional<std::string> {
    std::ifstream in("/proc/" + std::to_string(pid) + "/root/.flatpak-info");
    if (!in) return std::nullopt;
    std::stringstream text;
    text << in.rdbuf();
    return parseFlatpakAppId(text.str());
  };
  auto index = std::make_shared<DesktopIndex>();
  lookups.desktopFileId = [index](std::string_view binary) { return index->find(binary); };
  lookups.executable = [](std::int32_t pid) -> std::optional<std::string> {
    std::error_code ec;
    auto target = std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/exe", ec);
    if (ec) return std::nullopt;
    return target.string();
  };
  return lookups;
}

}  // namespace brontide
