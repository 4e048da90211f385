#pragma once

#include <dirent.h>
#include <sys/types.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>

// What another process costs, read from /proc: shared by the benchmarks that run the brontide executable.
namespace brontide::bench {

// CPU time (user + system) of a process, or of its thread `task` when `owner` is the process, in seconds.
inline double cpuSeconds(pid_t task, pid_t owner = 0) {
  std::ifstream in(owner ? "/proc/" + std::to_string(owner) + "/task/" + std::to_string(task) + "/stat"
                         : "/proc/" + std::to_string(task) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const auto close = text.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream fields(text.substr(close + 2));
  std::string field;
  double ticks = 0;
  for (int i = 3; i <= 15 && fields >> field; ++i)
    if (i == 14 || i == 15) ticks += std::stod(field);
  return ticks / double(::sysconf(_SC_CLK_TCK));
}

// CPU time of each of a process's threads, summed by thread name.
inline std::map<std::string, double> cpuSecondsByThread(pid_t pid) {
  std::map<std::string, double> byName;
  const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
  if (DIR* dir = ::opendir(tasks.c_str())) {
    while (const dirent* entry = ::readdir(dir)) {
      if (entry->d_name[0] == '.') continue;
      std::string name;
      std::getline(std::ifstream(tasks + "/" + entry->d_name + "/comm"), name);
      byName[name] += cpuSeconds(pid_t(std::stoi(entry->d_name)), pid);
    }
    ::closedir(dir);
  }
  return byName;
}

// A field of /proc/<pid>/status in MiB ("VmRSS", "VmHWM").
inline double statusMiB(pid_t pid, const std::string& key) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(in, line);)
    if (line.starts_with(key + ":")) return std::stod(line.substr(key.size() + 1)) / 1024;
  return 0;
}

// Open descriptors of a process.
inline std::size_t openFds(pid_t pid) {
  std::size_t count = 0;
  if (DIR* dir = ::opendir(("/proc/" + std::to_string(pid) + "/fd").c_str())) {
    while (::readdir(dir)) ++count;
    ::closedir(dir);
  }
  return count > 2 ? count - 2 : 0;  // . and ..
}

}  // namespace brontide::bench
