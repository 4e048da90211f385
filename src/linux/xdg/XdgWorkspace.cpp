#include "linux/xdg/XdgWorkspace.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <climits>
#include <map>
#include <string_view>
#include <system_error>
#include <utility>

#include "linux/xdg/Handles.h"
#include "linux/xdg/KeyFiles.h"
#include "linux/xdg/ProcessList.h"
#include "linux/xdg/Programs.h"

namespace brontide::linux::xdg {

using pipewire::applicationIdentity;
using pipewire::AudioProperties;
using pipewire::IdentityLookups;

namespace {

std::string lower(std::string text) {
  std::ranges::transform(text, text.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

bool spawnDetached(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  // Without G_SPAWN_DO_NOT_REAP_CHILD GLib double-forks: the program outlives Brontide and leaves no zombie.
  const auto flags = static_cast<GSpawnFlags>(G_SPAWN_SEARCH_PATH | G_SPAWN_STDOUT_TO_DEV_NULL);
  GError* raw = nullptr;
  const bool started = g_spawn_async(nullptr, args.data(), nullptr, flags, nullptr, nullptr, nullptr, &raw);
  GErrorPtr error(raw);
  return started;
}

// Each desktop's own sound settings by its XDG_CURRENT_DESKTOP name; "" for the mixers any desktop may have.
struct SettingsCommand {
  std::string_view desktop;
  std::array<const char*, 2> argv;  // the program and an argument or nullptr
};
constexpr SettingsCommand kSoundSettings[] = {
    {"GNOME", {"gnome-control-center", "sound"}},
    {"KDE", {"systemsettings", "kcm_pulseaudio"}},
    {"X-Cinnamon", {"cinnamon-settings", "sound"}},
    {"Cinnamon", {"cinnamon-settings", "sound"}},
    {"MATE", {"mate-volume-control", nullptr}},
    {"", {"pwvucontrol", nullptr}},
    {"", {"pavucontrol", nullptr}},
    {"", {"pavucontrol-qt", nullptr}},
};

std::vector<std::string> soundSettingsCommand(std::vector<std::string> desktops,
                                              const XdgWorkspace::FindProgram& installed) {
  desktops.emplace_back();
  for (const auto& desktop : desktops) {
    for (const auto& c : kSoundSettings) {
      if (c.desktop != desktop || !installed(c.argv[0])) continue;
      if (c.argv[1]) return {c.argv[0], c.argv[1]};
      return {c.argv[0]};
    }
  }
  return {};
}

bool programInPath(const std::string& program) {
  GChars path(g_find_program_in_path(program.c_str()));
  return path != nullptr;
}

AudioProperties processProperties(std::int32_t pid, const std::string& binary) {
  return {{"pipewire.sec.pid", std::to_string(pid)},
          {"application.process.id", std::to_string(pid)},
          {"application.process.binary", binary}};
}

// Keeps the first appearance of each identity and the best name any of its instances offers.
class Collected {
 public:
  void add(RunningApplication application, bool nameFromEntry) {
    if (!application.bundleID) {
      list_.push_back({std::move(application), nameFromEntry});
      return;
    }
    auto [it, inserted] = byIdentity_.try_emplace(*application.bundleID, list_.size());
    if (inserted) {
      list_.push_back({std::move(application), nameFromEntry});
      return;
    }
    auto& kept = list_[it->second];
    kept.application.ordinary = kept.application.ordinary || application.ordinary;
    if (nameFromEntry && !kept.nameFromEntry && application.localizedName) {
      kept.application.localizedName = std::move(application.localizedName);
      kept.nameFromEntry = true;
    }
  }
  std::vector<RunningApplication> take() {
    std::vector<RunningApplication> result;
    for (auto& item : list_) result.push_back(std::move(item.application));
    return result;
  }

 private:
  struct Item {
    RunningApplication application;
    bool nameFromEntry;
  };
  std::vector<Item> list_;
  std::map<std::string, std::size_t> byIdentity_;
};

}  // namespace

bool isSessionService(const std::string& name) {
  static constexpr std::array<std::string_view, 34> kExact = {
      "pipewire", "pipewire-pulse", "pipewire-media-session", "wireplumber", "pulseaudio", "jackd", "jackdbus",
      "gnome-shell", "org.gnome.shell", "gnome-session", "gnome-session-binary", "gnome-settings-daemon",
      "gnome-shell-calendar-server", "gnome-keyring-daemon", "ibus-daemon", "ibus-x11", "speech-dispatcher",
      "sd_dummy", "sd_espeak-ng", "at-spi-bus-launcher", "at-spi2-registryd", "xdg-permission-store",
      "xdg-document-portal", "plasmashell", "ksmserver", "kwin_x11", "kwin_wayland", "kded5", "kded6",
      "xfce4-session", "xfce4-panel", "xfce4-notifyd", "xwayland", "xorg"};
  static constexpr std::array<std::string_view, 11> kPrefixes = {
      "xdg-desktop-portal", "org.freedesktop.impl.portal.", "gsd-", "org.gnome.settingsdaemon.", "org.gnome.shell.",
      "gvfs", "tracker-miner", "goa-", "evolution-", "mate-settings-daemon", "pipewire-"};
  const auto lowered = lower(name);
  if (std::ranges::find(kExact, lowered) != kExact.end()) return true;
  return std::ranges::any_of(kPrefixes, [&](std::string_view prefix) { return lowered.starts_with(prefix); });
}

XdgWorkspace::Options XdgWorkspace::Options::forThisSession() {
  Options options;
  options.dirs = XdgDirs::fromEnvironment();
  options.owner = getuid();
  options.ownPid = static_cast<std::int32_t>(getpid());
  return options;
}

IdentityLookups identityLookups(DesktopEntries& entries, const std::filesystem::path& procRoot) {
  auto lookups = pipewire::procIdentityLookups(procRoot);
  lookups.desktopFileId = [&entries](std::string_view binary) { return entries.desktopIdForBinary(binary); };
  return lookups;
}

XdgWorkspace::XdgWorkspace(Options options, DesktopEntries& entries, Log& log)
    : options_(std::move(options)),
      log_(log),
      entries_(entries),
      icons_(options_.dirs, options_.iconTheme ? *options_.iconTheme : currentIconTheme(options_.dirs),
             options_.iconSize) {
  auto& lookups = options_.lookups;
  const auto filled = identityLookups(entries_, options_.procRoot);
  if (!lookups.flatpakAppId) lookups.flatpakAppId = filled.flatpakAppId;
  if (!lookups.desktopFileId) lookups.desktopFileId = filled.desktopFileId;
  if (!lookups.executable) lookups.executable = filled.executable;
  if (!options_.launch) options_.launch = spawnDetached;
  if (!options_.findProgram) options_.findProgram = programInPath;
}

bool XdgWorkspace::ordinary(const std::optional<std::string>& identity, const std::string& binary) const {
  if (identity && (*identity == kOwnIdentity || identity->starts_with(std::string(kOwnIdentity) + "."))) return false;
  if (identity && isSessionService(*identity)) return false;
  return binary.empty() || !isSessionService(binary);
}

std::vector<RunningApplication> XdgWorkspace::runningApplications() {
  Collected collected;
  entries_.refresh();
  for (const auto& process : listProcesses(options_.procRoot, options_.owner)) {
    if (process.pid == options_.ownPid) continue;
    std::optional<DesktopEntry> entry;
    std::string binary;
    for (const auto& name : binaryNames(process)) {
      if ((entry = entries_.findByBinary(name))) {
        binary = name;
        break;
      }
    }
    if (!entry && process.sandboxAppId) entry = entries_.findById(*process.sandboxAppId);
    if (!entry) continue;  // only programs the desktop shows as applications
    if (binary.empty()) binary = baseName(process.executable.empty() ? process.argv.front() : process.executable);
    RunningApplication application;
    application.bundleID = applicationIdentity({}, processProperties(process.pid, binary), options_.lookups);
    application.localizedName = entry->name ? entry->name : application.bundleID;
    application.ordinary = ordinary(application.bundleID, binary);
    collected.add(std::move(application), entry->name.has_value());
  }
  if (options_.audioClients) {
    for (auto& client : options_.audioClients()) {
      if (!client.playsAudio() || client.name.empty()) continue;
      std::optional<DesktopEntry> entry;
      if (client.identity) entry = entries_.findById(*client.identity);
      if (!entry && client.identity) entry = entries_.findByBinary(*client.identity);
      const bool nameFromEntry = entry && entry->name;
      RunningApplication application;
      application.bundleID = client.identity;
      application.localizedName = nameFromEntry ? entry->name : std::optional<std::string>(client.name);
      application.ordinary = client.pid != options_.ownPid && ordinary(client.identity, {});
      collected.add(std::move(application), nameFromEntry);
    }
  }
  return collected.take();
}

std::optional<std::string> XdgWorkspace::ownBundleID() const { return std::string(kOwnIdentity); }

std::optional<std::string> XdgWorkspace::applicationLocation(const std::string& bundleID) {
  if (bundleID.empty()) return std::nullopt;
  if (auto entry = entries_.findById(bundleID)) return entry->path.string();
  // The identity rules rename some applications (aliases): compare what each entry's ID becomes.
  for (const auto& entry : entries_.entries()) {
    if (applicationIdentity({}, {{"application.id", entry.id}}, {}) == bundleID) return entry.path.string();
  }
  return std::nullopt;
}

std::string XdgWorkspace::iconForFile(const std::string& location) {
  if (location.empty()) return {};
  auto entry = loadKeyFile(location);
  if (!entry) {
    log_.notice("no icon for " + location + ": " + entry.error());
    return {};
  }
  return icons_.find(keyString(entry->get(), "Desktop Entry", "Icon").value_or(""));
}

bool XdgWorkspace::openAddress(const std::string& address) {
  std::vector<std::string> command;
  if (address == kSoundSettingsAddress) {
    command = soundSettingsCommand(options_.dirs.currentDesktops, options_.findProgram);
    if (command.empty()) {
      log_.notice("no sound settings program found (the desktop's own, pwvucontrol, pavucontrol, pavucontrol-qt)");
      return false;
    }
  } else {
    // A leading dash would be read as an option by the handler.
    if (address.empty() || address.front() == '-') {
      log_.notice("refused to open address \"" + address + "\"");
      return false;
    }
    if (options_.findProgram("xdg-open")) command = {"xdg-open", address};
    else if (options_.findProgram("gio")) command = {"gio", "open", address};
    if (command.empty()) {
      log_.notice("cannot open " + address + ": neither xdg-open nor gio is installed");
      return false;
    }
  }
  if (options_.launch(command)) return true;
  log_.notice("could not start " + command.front() + " to open " + address);
  return false;
}

std::string userVisibleComputerName(const std::filesystem::path& machineInfo) {
  if (auto text = readSmallFile(machineInfo, 64 * 1024)) {
    std::string_view rest = *text;
    while (!rest.empty()) {
      const auto end = rest.find('\n');
      std::string_view line = rest.substr(0, end);
      rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
      constexpr std::string_view kKey = "PRETTY_HOSTNAME=";
      if (!line.starts_with(kKey)) continue;
      const std::string quoted(line.substr(kKey.size()));
      // The file uses shell quoting; GLib's unquoting follows the same rules.
      GChars value(g_shell_unquote(quoted.c_str(), nullptr));
      if (value && *value && g_utf8_validate(value.get(), -1, nullptr)) return value.get();
    }
  }
  std::array<char, HOST_NAME_MAX + 1> name{};
  if (gethostname(name.data(), name.size() - 1) == 0 && name[0] != '\0') return name.data();
  return "localhost";
}

}  // namespace brontide::linux::xdg
