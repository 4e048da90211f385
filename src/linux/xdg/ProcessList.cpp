#include "linux/xdg/ProcessList.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <string_view>
#include <system_error>

#include "linux/xdg/KeyFiles.h"
#include "linux/xdg/Programs.h"

namespace brontide::linux::xdg {
namespace {

constexpr std::size_t kMaxCommandLine = 64 * 1024;

std::optional<int> parsePid(std::string_view name) {
  int pid = 0;
  auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), pid);
  if (error != std::errc() || end != name.data() + name.size() || pid <= 0) return std::nullopt;
  return pid;
}

std::string executableOf(const std::filesystem::path& folder) {
  std::error_code error;
  auto target = std::filesystem::read_symlink(folder / "exe", error).string();
  if (error) return {};
  constexpr std::string_view kDeleted = " (deleted)";
  if (target.ends_with(kDeleted)) target.resize(target.size() - kDeleted.size());
  return target;
}

std::vector<std::string> commandLineOf(const std::filesystem::path& folder) {
  auto text = readSmallFile(folder / "cmdline", kMaxCommandLine);
  // A longer command line is cut rather than dropped: only the first arguments matter here.
  if (!text) text = std::string();
  std::vector<std::string> argv;
  std::string_view rest = *text;
  while (!rest.empty()) {
    const auto end = rest.find('\0');
    argv.emplace_back(rest.substr(0, end));
    if (end == std::string_view::npos) break;
    rest.remove_prefix(end + 1);
  }
  return argv;
}

std::optional<std::string> sandboxAppIdOf(const std::filesystem::path& folder) {
  auto info = loadKeyFile(folder / "root" / ".flatpak-info");
  if (!info) return std::nullopt;
  auto name = keyString(info->get(), "Application", "name");
  if (name && name->empty()) return std::nullopt;
  return name;
}

}  // namespace

std::vector<ProcessInfo> listProcesses(const std::filesystem::path& procRoot, std::optional<uid_t> owner) {
  std::vector<ProcessInfo> processes;
  std::error_code error;
  std::filesystem::directory_iterator it(procRoot, error);
  for (; !error && it != std::filesystem::directory_iterator(); it.increment(error)) {
    auto pid = parsePid(it->path().filename().native());
    if (!pid) continue;
    struct stat info {};
    if (::stat(it->path().c_str(), &info) != 0) continue;  // vanished
    if (owner && info.st_uid != *owner) continue;
    ProcessInfo process;
    process.pid = *pid;
    process.argv = commandLineOf(it->path());
    if (process.argv.empty() || process.argv.front().empty()) continue;  // kernel thread, zombie or gone
    process.executable = executableOf(it->path());
    process.sandboxAppId = sandboxAppIdOf(it->path());
    processes.push_back(std::move(process));
  }
  std::ranges::sort(processes, {}, &ProcessInfo::pid);
  return processes;
}

std::vector<std::string> binaryNames(const ProcessInfo& process) {
  std::vector<std::string> names;
  auto add = [&](std::string name) {
    if (!name.empty() && std::ranges::find(names, name) == names.end()) names.push_back(std::move(name));
  };
  if (!process.executable.empty()) add(baseName(process.executable));
  if (!process.argv.empty()) add(baseName(process.argv.front()));
  const bool interpreted = std::ranges::any_of(names, [](const auto& name) { return isInterpreter(name); });
  if (interpreted) {
    for (std::size_t i = 1; i < process.argv.size(); ++i) {
      if (process.argv[i] == "-c") break;
      if (!process.argv[i].starts_with('-')) {
        add(baseName(process.argv[i]));
        break;
      }
    }
  }
  return names;
}

}  // namespace brontide::linux::xdg
