#pragma once

#include <expected>
#include <filesystem>
#include <optional>
#include <string>

#include "controller/LoginItems.h"
#include "linux/xdg/XdgDirs.h"

namespace brontide::linux::xdg {

// Launch at login through an XDG autostart entry, $XDG_CONFIG_HOME/autostart/brontide.desktop. A
// system-wide entry in $XDG_CONFIG_DIRS/autostart is overridden by the user's one. Main thread.
class XdgAutostartLoginItems final : public LoginItems {
 public:
  static constexpr const char* kFileName = "brontide.desktop";

  // `executable` empty: the running binary (/proc/self/exe).
  explicit XdgAutostartLoginItems(XdgDirs dirs, std::filesystem::path executable = {});

  [[nodiscard]] std::expected<void, std::string> registerMainApp() override;
  [[nodiscard]] std::expected<void, std::string> unregisterMainApp() override;
  // Enabled when the entry that applies (the user's, else the first system-wide one) exists and is neither
  // Hidden=true nor X-GNOME-Autostart-enabled=false.
  [[nodiscard]] Status status() const override;

  // The user's entry, when its Exec names a program that no longer exists (a moved build folder, a
  // package that replaced it), is written again for the running binary, hidden or not as it was.
  [[nodiscard]] std::expected<void, std::string> repairMovedProgram();

  [[nodiscard]] std::filesystem::path userEntry() const;

 private:
  [[nodiscard]] std::optional<std::filesystem::path> systemEntry() const;
  [[nodiscard]] std::expected<void, std::string> write(bool hidden) const;
  [[nodiscard]] std::filesystem::path runningBinary(std::error_code& error) const;

  XdgDirs dirs_;
  std::filesystem::path executable_;
};

// A path as one Exec argument: quoted and escaped when it holds reserved characters, '%' doubled.
[[nodiscard]] std::string execArgument(const std::string& path);

}  // namespace brontide::linux::xdg
