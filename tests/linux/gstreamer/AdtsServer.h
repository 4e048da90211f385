#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/AacDecoder.h"
#include "support/AudioSession.h"

namespace brontide::rig {

using AdtsFrame = std::string;

// ADTS frames of 48 kHz stereo AAC-LC at 256 kbit/s, encoded by ffmpeg from a lavfi source
// ("sine=frequency=440:duration=10"); empty when ffmpeg fails.
inline std::vector<AdtsFrame> encodeAdts(const std::string& lavfiSource) {
  testsupport::AdtsSplitter splitter;
  splitter.append(testsupport::runCommand("ffmpeg -hide_banner -loglevel error -f lavfi -i '" + lavfiSource +
                                          "' -ac 2 -ar 48000 -c:a aac -b:a 256k -f adts - 2>/dev/null"));
  std::vector<AdtsFrame> frames;
  while (auto frame = splitter.next()) frames.push_back(std::move(*frame));
  return splitter.broken() ? std::vector<AdtsFrame>{} : frames;
}

// A loopback HTTP server that answers every request with the stream's header and then relays the
// frames live (one each 1024/48000 s, looping), like the stream server. Its own threads.
class AdtsServer {
 public:
  using Clock = std::chrono::steady_clock;
  // Called on the pacing thread after frame `index` (counting from 0, across loops) was written.
  using FrameSent = std::function<void(std::uint64_t index, Clock::time_point when)>;

  explicit AdtsServer(std::vector<AdtsFrame> frames, FrameSent onFrameSent = {})
      : frames_(std::move(frames)), onFrameSent_(std::move(onFrameSent)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && ::listen(listener_, 8) == 0 &&
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) == 0)
      port_ = ntohs(address.sin_port);
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
  ~AdtsServer() {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    stopped_.notify_all();
    ::shutdown(listener_, SHUT_RDWR);  // wakes the acceptor from accept()
    acceptor_.join();
    pacer_.join();
    drop(false);
    ::close(listener_);
  }
  AdtsServer(const AdtsServer&) = delete;
  AdtsServer& operator=(const AdtsServer&) = delete;

  [[nodiscard]] std::uint16_t port() const { return port_; }
  [[nodiscard]] std::string address() const { return "http://127.0.0.1:" + std::to_string(port_) + "/live.aac"; }
  [[nodiscard]] int requests() const { return requests_; }

  // Ends every response with a FIN, or aborts every connection with an RST.
  void closeClients() { drop(false); }
  void resetClients() { drop(true); }
  // While false the frames go by unsent; connections stay open.
  void setSending(bool sending) { sending_ = sending; }

 private:
  static constexpr auto kFramePeriod = std::chrono::nanoseconds(1'000'000'000LL * 1024 / 48000);

  static bool sendAll(int fd, const char* data, std::size_t size) {
    for (ssize_t sent; size > 0; data += sent, size -= std::size_t(sent))
      if ((sent = ::send(fd, data, size, MSG_NOSIGNAL)) <= 0) return false;
    return true;
  }

  void drop(bool reset) {
    std::lock_guard lock(mutex_);
    for (int fd : clients_) {
      const linger abort{1, 0};
      if (reset) ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
      else ::shutdown(fd, SHUT_WR);
      ::close(fd);
    }
    clients_.clear();
  }

  void accept() {
    constexpr std::string_view kHeader =
        "HTTP/1.1 200 OK\r\nContent-Type: audio/aac\r\nCache-Control: no-cache, no-store\r\nConnection: close\r\n\r\n";
    while (!stopping_) {
      const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (client < 0) continue;
      // Read the request head, then answer; the request itself is not looked at.
      std::string request;
      char buffer[1024];
      for (ssize_t got = 1; got > 0 && request.find("\r\n\r\n") == std::string::npos && request.size() < 16384;)
        if ((got = ::recv(client, buffer, sizeof buffer, 0)) > 0) request.append(buffer, std::size_t(got));
      std::lock_guard lock(mutex_);
      if (request.find("\r\n\r\n") == std::string::npos || !sendAll(client, kHeader.data(), kHeader.size())) {
        ::close(client);
        continue;
      }
      ++requests_;
      clients_.push_back(client);
    }
  }

  void pace() {
    const auto start = Clock::now();
    for (std::uint64_t index = 0; !frames_.empty(); ++index) {
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

  std::vector<AdtsFrame> frames_;
  FrameSent onFrameSent_;
  int listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  std::uint16_t port_ = 0;
  std::atomic<int> requests_{0};
  std::atomic<bool> sending_{true};
  std::atomic<bool> stopping_{false};
  std::mutex mutex_;
  std::condition_variable stopped_;
  std::vector<int> clients_;
  std::thread acceptor_;
  std::thread pacer_;
};

}  // namespace brontide::rig
