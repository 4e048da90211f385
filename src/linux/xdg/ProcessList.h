#pragma once

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace brontide::linux::xdg {

// One process as /proc shows it at the moment it was read.
struct ProcessInfo {
  int pid = 0;
  std::string executable;         // /proc/PID/exe target, " (deleted)" removed; empty when unreadable
  std::vector<std::string> argv;  // /proc/PID/cmdline
  std::optional<std::string> sandboxAppId;  // [Application] name= of /proc/PID/root/.flatpak-info
};

// The processes of `owner` (all when absent) under `procRoot`, by ascending pid. Processes that vanish
// while being read, and kernel threads (no command line), are left out.
[[nodiscard]] std::vector<ProcessInfo> listProcesses(const std::filesystem::path& procRoot,
                                                     std::optional<uid_t> owner);

// The program names a process may be known by, best first: its executable, argv[0], and the script an
// interpreter runs.
[[nodiscard]] std::vector<std::string> binaryNames(const ProcessInfo& process);

}  // namespace brontide::linux::xdg
