#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "fakes/RecordingLog.h"
#include "support/AudioSession.h"

namespace brontide::rig {

inline std::string script() { return std::string(BRONTIDE_SOURCE_DIR) + "/scripts/airplay-network"; }

// Takes the network's exports (DBUS_SYSTEM_BUS_ADDRESS, BRONTIDE_RECEIVERS_BUS) into this process.
inline void useNetwork() {
  std::istringstream exports(testsupport::runCommand(script() + " env"));
  for (std::string line; std::getline(exports, line);) {
    const auto eq = line.find('=');
    if (line.starts_with("export ") && eq != std::string::npos)
      setenv(line.substr(7, eq - 7).c_str(), line.substr(eq + 1).c_str(), 1);
  }
}

// Whether avahi-daemon #1 answers and runs (server state 2).
inline bool avahiRunning() {
  return testsupport::runCommand("dbus-send --system --print-reply=literal --dest=org.freedesktop.Avahi / "
                                 "org.freedesktop.Avahi.Server.GetState 2>/dev/null")
             .find("int32 2") != std::string::npos;
}

inline int command(const std::string& verb) { return std::system((script() + " " + verb + " >&2").c_str()); }

// One record published on the receivers' daemon for as long as this object lives.
class Publication {
 public:
  // A service; `host` names a host other than the daemon's own.
  Publication(const std::string& name, int port, const std::vector<std::string>& txt,
              const std::string& type = "_airplay._tcp", const std::string& host = "")
      : Publication(serviceCommand(name, port, txt, type, host)) {}
  // An address record: `host` (a .local name) at `address`.
  static std::unique_ptr<Publication> address(const std::string& host, const std::string& address) {
    return std::unique_ptr<Publication>(new Publication({"avahi-publish-service", "-a", "-R", host, address}));
  }

  // Ends the publisher; avahi sends the goodbye.
  void withdraw() { publisher_.reset(); }

 private:
  explicit Publication(const std::vector<std::string>& command) {
    const char* bus = std::getenv("BRONTIDE_RECEIVERS_BUS");
    publisher_ = std::make_unique<testsupport::ChildProcess>(
        command, true, std::map<std::string, std::string>{{"DBUS_SYSTEM_BUS_ADDRESS", bus ? bus : ""}});
    EXPECT_GT(publisher_->pid(), 0) << "cannot run avahi-publish-service";
  }
  static std::vector<std::string> serviceCommand(const std::string& name, int port, const std::vector<std::string>& txt,
                                                 const std::string& type, const std::string& host) {
    std::vector<std::string> command{"avahi-publish-service", "-s"};
    if (!host.empty()) command.insert(command.end(), {"-H", host});
    command.insert(command.end(), {name, type, std::to_string(port)});
    command.insert(command.end(), txt.begin(), txt.end());
    return command;
  }

  std::unique_ptr<testsupport::ChildProcess> publisher_;
};

// The adapter's log, kept for the test and echoed to its output.
struct EchoLog final : Log {
  void notice(const std::string& line) override {
    std::fprintf(stderr, "log: %s\n", line.c_str());
    kept.notice(line);
  }
  fakes::RecordingLog kept;
};

}  // namespace brontide::rig
