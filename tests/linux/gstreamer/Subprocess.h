#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace brontide::rig {

// Runs a command through /bin/sh and returns its standard output; exitCode is its status.
std::string runCommand(const std::string& command, int* exitCode = nullptr);

// A child process whose standard output this process reads; killed (TERM) and reaped on destruction.
class Child {
 public:
  explicit Child(const std::vector<std::string>& argv);
  ~Child();
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  [[nodiscard]] int stdoutFd() const { return stdout_; }
  // Ends the child (TERM) and reaps it; its output stays readable up to the end.
  void terminate();
  [[nodiscard]] bool started() const { return pid_ > 0; }

 private:
  pid_t pid_ = -1;
  int stdout_ = -1;
};

}  // namespace brontide::rig
