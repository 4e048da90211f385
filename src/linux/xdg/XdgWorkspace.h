#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "linux/pipewire/ApplicationIdentity.h"
#include "audio_tap/AudioSystem.h"
#include "base/Log.h"
#include "controller/Workspace.h"
#include "linux/xdg/DesktopEntries.h"
#include "linux/xdg/IconLookup.h"
#include "linux/xdg/XdgDirs.h"

namespace brontide::linux::xdg {

// Opens the desktop's sound settings instead of a web page.
inline constexpr const char* kSoundSettingsAddress =
    "x-apple.systempreferences:com.apple.preference.security?Privacy_AudioCapture";
inline constexpr const char* kOwnIdentity = "brontide";

// The desktop session from /proc, the XDG desktop entries and icon theme, and the sound server's clients.
// Main thread.
class XdgWorkspace final : public Workspace {
 public:
  // Starts a program detached from Brontide; false when it could not be started.
  using Launch = std::function<bool(const std::vector<std::string>& argv)>;
  using FindProgram = std::function<bool(const std::string& program)>;
  using AudioClients = std::function<std::vector<AudioClient>()>;

  struct Options {
    XdgDirs dirs;
    std::filesystem::path procRoot = "/proc";
    std::optional<uid_t> owner;   // only this user's processes; all when absent
    std::int32_t ownPid = 0;      // Brontide's own process, never a source
    std::optional<std::string> iconTheme;  // absent: the desktop's current theme
    int iconSize = 48;
    // Empty members are filled from `procRoot` and the desktop entries.
    pipewire::IdentityLookups lookups;
    AudioClients audioClients;    // empty: no sound-server clients
    Launch launch;                // empty: spawn for real
    FindProgram findProgram;      // empty: search PATH

    // This session: the environment's XDG folders, /proc, this user and process.
    [[nodiscard]] static Options forThisSession();
  };

  // `entries` must outlive the workspace; the capture's identity lookups share them.
  XdgWorkspace(Options options, DesktopEntries& entries, Log& log);
  XdgWorkspace(const XdgWorkspace&) = delete;
  XdgWorkspace& operator=(const XdgWorkspace&) = delete;

  [[nodiscard]] std::vector<RunningApplication> runningApplications() override;
  [[nodiscard]] std::optional<std::string> ownBundleID() const override;
  [[nodiscard]] std::optional<std::string> applicationLocation(const std::string& bundleID) override;
  [[nodiscard]] std::string iconForFile(const std::string& location) override;
  // The sound settings address opens the current desktop's own settings, else a mixer any desktop may have.
  [[nodiscard]] bool openAddress(const std::string& address) override;


 private:
  [[nodiscard]] bool ordinary(const std::optional<std::string>& identity, const std::string& binary) const;

  Options options_;
  Log& log_;
  DesktopEntries& entries_;
  IconLookup icons_;
};

// The identity lookups on a /proc tree and these desktop entries, which must outlive them. Main thread.
[[nodiscard]] pipewire::IdentityLookups identityLookups(DesktopEntries& entries, const std::filesystem::path& procRoot = "/proc");

// Processes and sound-server clients that are part of the desktop's plumbing, not applications.
[[nodiscard]] bool isSessionService(const std::string& name);

// The computer's user-visible name: PRETTY_HOSTNAME of `machineInfo`, else the host name.
[[nodiscard]] std::string userVisibleComputerName(const std::filesystem::path& machineInfo = "/etc/machine-info");

}  // namespace brontide::linux::xdg
