#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "base/Log.h"

extern char** environ;

namespace brontide::rig {

inline std::string script() { return std::string(BRONTIDE_SOURCE_DIR) + "/scripts/airplay-network"; }

inline std::string output(const std::string& command) {
  std::string out;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe)) out += buffer;
    pclose(pipe);
  }
  return out;
}

// Takes the network's exports (DBUS_SYSTEM_BUS_ADDRESS, BRONTIDE_RECEIVERS_BUS) into this process.
inline void useNetwork() {
  std::istringstream exports(output(script() + " env"));
  for (std::string line; std::getline(exports, line);) {
    const auto eq = line.find('=');
    if (line.starts_with("export ") && eq != std::string::npos)
      setenv(line.substr(7, eq - 7).c_str(), line.substr(eq + 1).c_str(), 1);
  }
}

// Whether avahi-daemon #1 answers and runs (server state 2).
inline bool avahiRunning() {
  return output("dbus-send --system --print-reply=literal --dest=org.freedesktop.Avahi / "
                "org.freedesktop.Avahi.Server.GetState 2>/dev/null")
             .find("int32 2") != std::string::npos;
}

inline int command(const std::string& verb) { return std::system((script() + " " + verb + " >&2").c_str()); }

// One service record published on the receivers' daemon for as long as this object lives.
class Publication {
 public:
  Publication(const std::string& name, int port, const std::vector<std::string>& txt,
              const std::string& type = "_airplay._tcp") {
    std::vector<std::string> args{"avahi-publish-service", "-s", name, type, std::to_string(port)};
    args.insert(args.end(), txt.begin(), txt.end());
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const char* bus = std::getenv("BRONTIDE_RECEIVERS_BUS");
    std::vector<std::string> env{"DBUS_SYSTEM_BUS_ADDRESS=" + std::string(bus ? bus : "")};
    std::vector<char*> envp{env[0].data(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    if (posix_spawnp(&pid_, "avahi-publish-service", &actions, nullptr, argv.data(), envp.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    EXPECT_GT(pid_, 0) << "cannot run avahi-publish-service";
  }
  ~Publication() { withdraw(); }
  Publication(const Publication&) = delete;
  Publication& operator=(const Publication&) = delete;

  // Ends the publisher; avahi sends the goodbye.
  void withdraw() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
};

// Keeps the adapter's log lines for the test's output.
class TestLog final : public Log {
 public:
  void notice(const std::string& line) override {
    std::lock_guard lock(mutex_);
    std::fprintf(stderr, "log: %s\n", line.c_str());
    lines_.push_back(line);
  }
  std::vector<std::string> lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
};

}  // namespace brontide::rig
