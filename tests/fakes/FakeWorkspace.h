#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "controller/Workspace.h"

namespace brontide::fakes {

// A desktop session described by the test. Main thread.
class FakeWorkspace final : public Workspace {
 public:
  std::vector<RunningApplication> runningApplications() override { return running; }
  [[nodiscard]] std::optional<std::string> ownBundleID() const override { return own; }
  std::optional<std::string> applicationLocation(const std::string& bundleID) override {
    const auto it = locations.find(bundleID);
    if (it == locations.end()) return std::nullopt;
    return it->second;
  }
  std::string iconForFile(const std::string& location) override {
    const auto it = icons.find(location);
    return it == icons.end() ? std::string() : it->second;
  }
  bool openAddress(const std::string& address) override {
    opened.push_back(address);
    return opens;
  }

  // An ordinary application with an identity and a name.
  void addApp(std::string bundleID, std::optional<std::string> name = std::nullopt, bool ordinary = true) {
    running.push_back(RunningApplication{std::move(bundleID), std::move(name), ordinary});
  }

  std::vector<RunningApplication> running;
  bool opens = true;  // whether openAddress finds a handler
  std::optional<std::string> own = "brontide";
  std::map<std::string, std::string> locations;  // bundle ID -> desktop entry
  std::map<std::string, std::string> icons;      // desktop entry -> icon file
  std::vector<std::string> opened;
};

}  // namespace brontide::fakes
