#include "linux/gstreamer/AdtsServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

#include "support/AudioSession.h"

namespace brontide::rig {

namespace {

constexpr char kHeader[] =
    "HTTP/1.1 200 OK\r\nContent-Type: audio/aac\r\nCache-Control: no-cache, no-store\r\nConnection: close\r\n\r\n";
constexpr auto kFramePeriod = std::chrono::nanoseconds(1'000'000'000LL * 1024 / 48000);

bool sendAll(int fd, const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    const auto sent = ::send(fd, data, size, MSG_NOSIGNAL);
    if (sent <= 0) return false;
    data += sent;
    size -= static_cast<std::size_t>(sent);
  }
  return true;
}

}  // namespace

std::vector<AdtsFrame> encodeAdts(const std::string& lavfiSource) {
  const auto bytes = testsupport::runCommand("ffmpeg -hide_banner -loglevel error -f lavfi -i '" + lavfiSource +
                                "' -ac 2 -ar 48000 -c:a aac -b:a 256k -f adts - 2>/dev/null");
  std::vector<AdtsFrame> frames;
  std::size_t at = 0;
  while (at + 7 <= bytes.size()) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(bytes.data()) + at;
    if (p[0] != 0xFF || (p[1] & 0xF6) != 0xF0) return {};
    const std::size_t length = ((p[3] & 0x03u) << 11) | (p[4] << 3) | (p[5] >> 5);
    if (length < 7 || at + length > bytes.size()) break;
    frames.emplace_back(p, p + length);
    at += length;
  }
  return frames;
}

AdtsServer::AdtsServer(std::vector<AdtsFrame> frames, FrameSent onFrameSent)
    : frames_(std::move(frames)), onFrameSent_(std::move(onFrameSent)) {
  listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && ::listen(listener_, 8) == 0 &&
      ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port_ = ntohs(address.sin_port);
  }
  if (::pipe2(wake_, O_CLOEXEC) != 0) wake_[0] = wake_[1] = -1;
  // rig.* threads are left out of the player's CPU figures.
  acceptor_ = std::thread([this] {
    pthread_setname_np(pthread_self(), "rig.accept");
    accept();
  });
  pacer_ = std::thread([this] {
    pthread_setname_np(pthread_self(), "rig.pace");
    pace();
  });
}

AdtsServer::~AdtsServer() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  stopped_.notify_all();
  if (wake_[1] >= 0) (void)::write(wake_[1], "x", 1);
  acceptor_.join();
  pacer_.join();
  dropAll(false);
  for (int fd : {listener_, wake_[0], wake_[1]}) {
    if (fd >= 0) ::close(fd);
  }
}

std::string AdtsServer::address() const { return "http://127.0.0.1:" + std::to_string(port_) + "/live.aac"; }

void AdtsServer::closeClients() { dropAll(false); }
void AdtsServer::resetClients() { dropAll(true); }

void AdtsServer::dropAll(bool reset) {
  std::lock_guard lock(mutex_);
  for (int fd : clients_) {
    if (reset) {
      const linger abort{1, 0};
      ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    } else {
      ::shutdown(fd, SHUT_WR);
    }
    ::close(fd);
  }
  clients_.clear();
}

void AdtsServer::accept() {
  while (!stopping_) {
    pollfd fds[2] = {{listener_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0 || (fds[1].revents & POLLIN)) continue;
    const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) continue;
    // Read the request head, then answer; the request itself is not looked at.
    std::string request;
    char buffer[1024];
    while (request.find("\r\n\r\n") == std::string::npos && request.size() < 16384) {
      const auto got = ::recv(client, buffer, sizeof buffer, 0);
      if (got <= 0) break;
      request.append(buffer, static_cast<std::size_t>(got));
    }
    std::lock_guard lock(mutex_);
    if (request.find("\r\n\r\n") == std::string::npos ||
        !sendAll(client, reinterpret_cast<const std::uint8_t*>(kHeader), sizeof kHeader - 1)) {
      ::close(client);
      continue;
    }
    ++requests_;
    clients_.push_back(client);
  }
}

void AdtsServer::pace() {
  if (frames_.empty()) return;
  const auto start = Clock::now();
  for (std::uint64_t index = 0;; ++index) {
    {
      std::unique_lock lock(mutex_);
      if (stopped_.wait_until(lock, start + index * kFramePeriod, [this] { return stopping_.load(); })) return;
      if (!sending_) continue;
      const auto& frame = frames_[index % frames_.size()];
      std::erase_if(clients_, [&frame](int fd) {
        if (sendAll(fd, frame.data(), frame.size())) return false;
        ::close(fd);
        return true;
      });
    }
    if (onFrameSent_) onFrameSent_(index, Clock::now());
  }
}

}  // namespace brontide::rig
