#include "app/cli/SingleInstance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace brontide::cli {
namespace {

std::string runtimeDir() {
  if (const char* dir = std::getenv("XDG_RUNTIME_DIR"); dir && *dir) return dir;
  return "/tmp/brontide-" + std::to_string(getuid());
}

}  // namespace

std::string SingleInstance::socketPath() { return runtimeDir() + "/brontide.socket"; }

std::expected<SingleInstance, std::string> SingleInstance::acquire() {
  const std::string dir = runtimeDir();
  if (!std::getenv("XDG_RUNTIME_DIR")) ::mkdir(dir.c_str(), 0700);
  const std::string path = dir + "/brontide.lock";
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return std::unexpected("No se pudo abrir " + path + ": " + std::strerror(errno));
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    ::close(fd);
    if (error == EWOULDBLOCK) return std::unexpected("Brontide ya se está ejecutando.");
    return std::unexpected("No se pudo bloquear " + path + ": " + std::strerror(error));
  }
  return SingleInstance(fd);
}

SingleInstance::SingleInstance(SingleInstance&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }

SingleInstance::~SingleInstance() {
  if (fd_ >= 0) ::close(fd_);
}

}  // namespace brontide::cli
