#pragma once

#include <expected>
#include <string>

namespace brontide::cli {

// One running Brontide per user: an flock in $XDG_RUNTIME_DIR, released by the kernel if we die.
class SingleInstance {
 public:
  // Fails with a message when another instance holds the lock.
  [[nodiscard]] static std::expected<SingleInstance, std::string> acquire();

  SingleInstance(SingleInstance&& other) noexcept;
  SingleInstance& operator=(SingleInstance&&) = delete;
  ~SingleInstance();

  // Where the running instance listens for "show the panel" from a second launch.
  [[nodiscard]] static std::string socketPath();

 private:
  explicit SingleInstance(int fd) : fd_(fd) {}
  int fd_ = -1;
};

}  // namespace brontide::cli
