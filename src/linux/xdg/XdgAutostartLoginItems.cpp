#include "linux/xdg/XdgAutostartLoginItems.h"

#include <algorithm>
#include <string_view>
#include <system_error>
#include <utility>

#include "linux/xdg/Handles.h"
#include "linux/xdg/KeyFiles.h"

namespace brontide::linux::xdg {
namespace {

constexpr const char* kGroup = "Desktop Entry";

bool present(const std::filesystem::path& path) {
  std::error_code error;
  return std::filesystem::exists(std::filesystem::symlink_status(path, error));
}

bool mentions(const std::vector<std::string>& desktops, const std::vector<std::string>& list) {
  return std::ranges::any_of(desktops, [&](const auto& desktop) { return std::ranges::find(list, desktop) != list.end(); });
}

}  // namespace

std::string execArgument(const std::string& path) {
  constexpr std::string_view kReserved = " \t\n\"'\\><~|&;$*?#()`";
  std::string argument;
  if (path.find_first_of(kReserved) == std::string::npos) {
    argument = path;
  } else {
    argument = "\"";
    for (char c : path) {
      if (c == '"' || c == '`' || c == '$' || c == '\\') argument += '\\';
      argument += c;
    }
    argument += '"';
  }
  std::string escaped;
  for (char c : argument) {
    escaped += c;
    if (c == '%') escaped += '%';
  }
  return escaped;
}

XdgAutostartLoginItems::XdgAutostartLoginItems(XdgDirs dirs, std::filesystem::path executable)
    : dirs_(std::move(dirs)), executable_(std::move(executable)) {}

std::filesystem::path XdgAutostartLoginItems::userEntry() const { return dirs_.configHome / "autostart" / kFileName; }

std::optional<std::filesystem::path> XdgAutostartLoginItems::systemEntry() const {
  for (const auto& dir : dirs_.configDirs) {
    if (auto path = dir / "autostart" / kFileName; present(path)) return path;
  }
  return std::nullopt;
}

LoginItems::Status XdgAutostartLoginItems::status() const {
  // The user's entry, even a broken one, shadows the system-wide one.
  auto path = present(userEntry()) ? std::optional(userEntry()) : systemEntry();
  if (!path) return Status::notRegistered;
  auto file = loadKeyFile(*path);
  if (!file) return Status::notRegistered;
  GKeyFile* keys = file->get();
  if (!g_key_file_has_group(keys, kGroup)) return Status::notRegistered;
  if (keyBool(keys, kGroup, "Hidden", false)) return Status::notRegistered;
  if (!keyBool(keys, kGroup, "X-GNOME-Autostart-enabled", true)) return Status::notRegistered;
  if (auto only = keyList(keys, kGroup, "OnlyShowIn"); only && !mentions(dirs_.currentDesktops, *only)) {
    return Status::notRegistered;
  }
  if (auto notIn = keyList(keys, kGroup, "NotShowIn"); notIn && mentions(dirs_.currentDesktops, *notIn)) {
    return Status::notRegistered;
  }
  return Status::enabled;
}

std::filesystem::path XdgAutostartLoginItems::runningBinary(std::error_code& error) const {
  if (!executable_.empty()) return executable_;
  auto executable = std::filesystem::read_symlink("/proc/self/exe", error);
  constexpr std::string_view kDeleted = " (deleted)";
  if (auto text = executable.string(); text.ends_with(kDeleted)) {
    executable = text.substr(0, text.size() - kDeleted.size());
  }
  return executable;
}

std::expected<void, std::string> XdgAutostartLoginItems::write(bool hidden) const {
  std::error_code error;
  const auto executable = runningBinary(error);
  if (error) return std::unexpected("no se pudo saber dónde está Brontide: " + error.message());
  const auto folder = userEntry().parent_path();
  std::filesystem::create_directories(folder, error);
  if (error) return std::unexpected("no se pudo crear la carpeta " + folder.string() + ": " + error.message());

  KeyFile keys(g_key_file_new());
  g_key_file_set_string(keys.get(), kGroup, "Type", "Application");
  g_key_file_set_string(keys.get(), kGroup, "Name", "Brontide");
  g_key_file_set_string(keys.get(), kGroup, "Exec", execArgument(executable.string()).c_str());
  g_key_file_set_string(keys.get(), kGroup, "Icon", "app.brontide.Brontide");
  g_key_file_set_boolean(keys.get(), kGroup, "Terminal", FALSE);
  g_key_file_set_boolean(keys.get(), kGroup, "X-GNOME-Autostart-enabled", hidden ? FALSE : TRUE);
  if (hidden) g_key_file_set_boolean(keys.get(), kGroup, "Hidden", TRUE);
  gsize length = 0;
  GChars text(g_key_file_to_data(keys.get(), &length, nullptr));

  // Written to a temporary file and renamed, so a full disk never leaves half an entry.
  GError* raw = nullptr;
  if (!g_file_set_contents(userEntry().c_str(), text.get(), static_cast<gssize>(length), &raw)) {
    GErrorPtr failure(raw);
    return std::unexpected("no se pudo escribir " + userEntry().string() + ": " +
                           (failure ? failure->message : "error desconocido"));
  }
  return {};
}

std::expected<void, std::string> XdgAutostartLoginItems::registerMainApp() { return write(false); }

std::expected<void, std::string> XdgAutostartLoginItems::repairMovedProgram() {
  auto file = loadKeyFile(userEntry());
  if (!file) return {};
  GKeyFile* keys = file->get();
  auto exec = keyString(keys, kGroup, "Exec");
  if (!exec) return {};
  // Exec's own escaping: "%%" is a literal '%'; the rest is shell-like quoting.
  std::string line;
  for (std::size_t i = 0; i < exec->size(); ++i) {
    line += (*exec)[i];
    if ((*exec)[i] == '%' && i + 1 < exec->size() && (*exec)[i + 1] == '%') ++i;
  }
  gchar** raw = nullptr;
  if (!g_shell_parse_argv(line.c_str(), nullptr, &raw, nullptr)) return {};
  GStrv argv(raw);
  const std::string program = argv.get()[0] ? argv.get()[0] : "";
  std::error_code error;
  const bool runs = program.find('/') == std::string::npos ? GChars(g_find_program_in_path(program.c_str())) != nullptr
                                                           : std::filesystem::exists(program, error);
  if (program.empty() || runs) return {};
  return write(keyBool(keys, kGroup, "Hidden", false));
}

std::expected<void, std::string> XdgAutostartLoginItems::unregisterMainApp() {
  // A system-wide entry would still start Brontide: hide it behind a user entry instead.
  if (systemEntry()) return write(true);
  std::error_code error;
  std::filesystem::remove(userEntry(), error);
  if (error && error != std::errc::no_such_file_or_directory && error != std::errc::not_a_directory) {
    return std::unexpected("no se pudo borrar " + userEntry().string() + ": " + error.message());
  }
  return {};
}

}  // namespace brontide::linux::xdg
