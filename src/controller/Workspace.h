#pragma once

#include <optional>
#include <string>
#include <vector>

namespace brontide {

// One running application as the desktop sees it.
struct RunningApplication {
  std::optional<std::string> bundleID;       // the application identity, if it has one
  std::optional<std::string> localizedName;  // the user-visible name, if it has one
  bool ordinary = false;                     // false for background services, portals, the sound server
};

// The desktop session: running applications, installed ones, icons, opening addresses. Main thread.
class Workspace {
 public:
  virtual ~Workspace() = default;
  // The running applications in a stable order.
  [[nodiscard]] virtual std::vector<RunningApplication> runningApplications() = 0;
  // Brontide's own identity, if it can be read.
  [[nodiscard]] virtual std::optional<std::string> ownBundleID() const = 0;
  // Where the application with this identity is installed (its desktop entry), if anywhere.
  [[nodiscard]] virtual std::optional<std::string> applicationLocation(const std::string& bundleID) = 0;
  // The icon of the application installed at `location`: an image file path, or empty when there is none.
  [[nodiscard]] virtual std::string iconForFile(const std::string& location) = 0;
  // Opens a web address or a settings address with the desktop's handler; false when there is none to start
  // (the reason is logged).
  [[nodiscard]] virtual bool openAddress(const std::string& address) = 0;
};

}  // namespace brontide
