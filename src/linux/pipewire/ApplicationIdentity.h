#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace brontide::linux::pipewire {

// Property dictionary of a sound-server object (a stream node or a client).
using AudioProperties = std::map<std::string, std::string, std::less<>>;

// File-system lookups the identity needs; injectable so the rules can be tested without /proc.
struct IdentityLookups {
  // `[Application] name=` of /proc/<pid>/root/.flatpak-info.
  std::function<std::optional<std::string>(std::int32_t pid)> flatpakAppId;
  // ID (file name without ".desktop") of the visible desktop entry whose Exec or TryExec names `binary`.
  std::function<std::optional<std::string>(std::string_view binary)> desktopFileId;
  // Path of /proc/<pid>/exe.
  std::function<std::optional<std::string>(std::int32_t pid)> executable;
};

// The application identity of a stream node and its client, lower-cased; absent when nothing names it.
// `node` may be empty (a client with no stream). Pure apart from the lookups.
[[nodiscard]] std::optional<std::string> applicationIdentity(const AudioProperties& node, const AudioProperties& client,
                                                             const IdentityLookups& lookups);

// The process an application runs in, from the node's and client's properties; absent when unknown.
[[nodiscard]] std::optional<std::int32_t> applicationPid(const AudioProperties& node, const AudioProperties& client);

// True for clients that reach the server through its PulseAudio front end.
[[nodiscard]] bool isPulseClient(const AudioProperties& node, const AudioProperties& client);

// `[Application] name=` of a .flatpak-info file's text.
[[nodiscard]] std::optional<std::string> parseFlatpakAppId(std::string_view flatpakInfo);

// The sandbox app id and executable lookups on a /proc tree; no desktop-entry lookup (the desktop's entries
// supply that). Any thread.
[[nodiscard]] IdentityLookups procIdentityLookups(const std::filesystem::path& procRoot = "/proc");

}  // namespace brontide::linux::pipewire
