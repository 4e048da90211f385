#pragma once

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "base/Log.h"
#include "linux/xdg/XdgDirs.h"

namespace brontide::linux::xdg {

// One application desktop entry that is shown in this desktop.
struct DesktopEntry {
  std::string id;                     // desktop-file ID: "org.gnome.Totem" for org.gnome.Totem.desktop
  std::filesystem::path path;
  std::optional<std::string> name;    // Name[es], Name[es_ES], then Name
  std::string icon;                   // the Icon value as written; empty when none
  std::vector<std::string> binaries;  // base names of the programs its Exec and TryExec start
};

// Reads one entry; nothing when it is not a shown application (or not readable: `problem` says why).
[[nodiscard]] std::optional<DesktopEntry> readDesktopEntry(const std::filesystem::path& path, std::string id,
                                                           const std::vector<std::string>& currentDesktops,
                                                           std::string* problem = nullptr);

// The program base names an Exec line starts: wrappers (env, interpreters) are looked through,
// and sandbox launchers (flatpak) name none.
[[nodiscard]] std::vector<std::string> execBinaries(std::string_view exec);

// The shown application entries of the XDG data directories, where the first directory wins for each ID.
// Rescanned when an applications folder changed, checked at most once a second unless `refresh` is called.
// Main thread.
class DesktopEntries {
 public:
  DesktopEntries(XdgDirs dirs, Log& log);

  // Checks the folders now (once per list rather than once per lookup).
  void refresh();
  [[nodiscard]] const std::vector<DesktopEntry>& entries();
  // Case-insensitive, since identities are lower-cased desktop-file IDs.
  [[nodiscard]] std::optional<DesktopEntry> findById(std::string_view id);
  [[nodiscard]] std::optional<DesktopEntry> findByBinary(std::string_view binary);
  // The desktop-file ID whose Exec or TryExec starts `binary`; the application identity's lookup.
  [[nodiscard]] std::optional<std::string> desktopIdForBinary(std::string_view binary);

 private:
  using Stamps = std::map<std::filesystem::path, std::filesystem::file_time_type>;
  void refreshIfDue();
  [[nodiscard]] Stamps folderStamps() const;

  XdgDirs dirs_;
  Log& log_;
  Stamps stamps_;
  bool loaded_ = false;
  std::chrono::steady_clock::time_point checked_{};
  std::vector<DesktopEntry> entries_;
  std::map<std::string, std::size_t> byId_;      // lower-cased ID → index
  std::map<std::string, std::size_t> byBinary_;  // first entry wins
  std::set<std::filesystem::path> reported_;     // a broken file is logged once, not on every refresh
};

}  // namespace brontide::linux::xdg
