#include "linux/pipewire/ApplicationIdentity.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

namespace brontide::linux::pipewire {
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

IdentityLookups procIdentityLookups(const std::filesystem::path& procRoot) {
  IdentityLookups lookups;
  lookups.flatpakAppId = [procRoot](std::int32_t pid) -> std::optional<std::string> {
    std::ifstream in(procRoot / std::to_string(pid) / "root" / ".flatpak-info");
    if (!in) return std::nullopt;
    std::stringstream text;
    text << in.rdbuf();
    return parseFlatpakAppId(text.str());
  };
  lookups.executable = [procRoot](std::int32_t pid) -> std::optional<std::string> {
    std::error_code ec;
    auto target = std::filesystem::read_symlink(procRoot / std::to_string(pid) / "exe", ec);
    if (ec) return std::nullopt;
    return target.string();
  };
  return lookups;
}

}  // namespace brontide::linux::pipewire
