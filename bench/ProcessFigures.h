#pragma once

#include <dirent.h>
#include <sys/types.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

// What another process costs, read from /proc: shared by the benchmarks that run the brontide executable.
namespace brontide::bench {

// CPU time (user + system) of a process, in seconds.
inline double cpuSeconds(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
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
