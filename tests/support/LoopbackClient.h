#pragma once

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include <gtest/gtest.h>

namespace brontide::testsupport {

// A plain POSIX TCP client of a loopback server, for the stream server's tests and the end-to-end ones.
class LoopbackClient {
 public:
  static constexpr std::string_view kStreamRequest = "GET /live.aac HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";

  explicit LoopbackClient(std::uint16_t port, const char* address = "127.0.0.1", int receiveBuffer = 0)
      : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    if (receiveBuffer > 0) ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    const timeval hangGuard{30, 0};  // only against hangs, never a pass criterion
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &hangGuard, sizeof hangGuard);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    ::inet_pton(AF_INET, address, &to.sin_addr);
    connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0;
  }
  ~LoopbackClient() {
    if (fd_ >= 0) ::close(fd_);
  }
  LoopbackClient(const LoopbackClient&) = delete;
  LoopbackClient& operator=(const LoopbackClient&) = delete;

  [[nodiscard]] bool connected() const { return connected_; }
  // Whether the server still holds it: no end of stream waiting to be read.
  [[nodiscard]] bool open() const {
    char byte;
    const auto n = ::recv(fd_, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    return n < 0 && errno == EAGAIN;
  }
  [[nodiscard]] bool closed() const { return closed_; }
  // Sends what the socket takes without blocking, up to all of it.
  void send(std::string_view bytes) {
    for (ssize_t n = 0; !bytes.empty(); bytes.remove_prefix(static_cast<std::size_t>(n))) {
      if ((n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT)) <= 0) return;
    }
  }
  void shutdownSending() { ::shutdown(fd_, SHUT_WR); }
  // Closes with RST instead of FIN.
  void reset() {
    const linger abortive{1, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
    ::close(std::exchange(fd_, -1));
  }
  // Reads exactly `count` bytes unless the connection closes first.
  std::string read(std::size_t count = 64u << 20) {
    std::string bytes;
    char buffer[65536];
    while (bytes.size() < count && !closed_) {
      const auto n = ::recv(fd_, buffer, std::min(sizeof buffer, count - bytes.size()), 0);
      if (n < 0 && errno == EAGAIN) {
        ADD_FAILURE() << "no bytes within the hang guard";
        break;
      }
      if (n <= 0) closed_ = true;  // end of stream or reset
      else bytes.append(buffer, static_cast<std::size_t>(n));
    }
    return bytes;
  }
  // Whatever arrives within `wait`: empty at the end of the stream or after `wait` of silence.
  std::string readWithin(std::chrono::milliseconds wait) {
    pollfd ready{fd_, POLLIN, 0};
    if (fd_ < 0 || ::poll(&ready, 1, int(wait.count())) <= 0) return {};
    char buffer[16384];
    const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
    return n > 0 ? std::string(buffer, std::size_t(n)) : std::string();
  }
  // What arrives for `duration`, stopping early at the end of the stream.
  std::string readFor(std::chrono::milliseconds duration) {
    std::string bytes;
    const auto deadline = std::chrono::steady_clock::now() + duration;
    for (auto left = duration; left.count() > 0;
         left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())) {
      auto chunk = readWithin(left);
      if (chunk.empty()) break;
      bytes += chunk;
    }
    return bytes;
  }

 private:
  int fd_;
  bool connected_ = false;
  bool closed_ = false;
};

}  // namespace brontide::testsupport
