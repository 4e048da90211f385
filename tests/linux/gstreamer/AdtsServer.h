#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace brontide::rig {

using AdtsFrame = std::vector<std::uint8_t>;

// ADTS frames of 48 kHz stereo AAC-LC at 256 kbit/s, encoded by ffmpeg from a lavfi source
// ("sine=frequency=440:duration=10"); empty when ffmpeg fails.
std::vector<AdtsFrame> encodeAdts(const std::string& lavfiSource);

// A loopback HTTP server that answers every request with the stream's header and then relays the
// frames live (one each 1024/48000 s, looping), like the stream server. Its own threads.
class AdtsServer {
 public:
  using Clock = std::chrono::steady_clock;
  // Called on the pacing thread after frame `index` (counting from 0, across loops) was written.
  using FrameSent = std::function<void(std::uint64_t index, Clock::time_point when)>;

  explicit AdtsServer(std::vector<AdtsFrame> frames, FrameSent onFrameSent = {});
  ~AdtsServer();
  AdtsServer(const AdtsServer&) = delete;
  AdtsServer& operator=(const AdtsServer&) = delete;

  [[nodiscard]] std::uint16_t port() const { return port_; }
  [[nodiscard]] std::string address() const;
  [[nodiscard]] int requests() const { return requests_; }

  // Ends every response with a FIN.
  void closeClients();
  // Aborts every connection with an RST.
  void resetClients();
  // While false the frames go by unsent; connections stay open.
  void setSending(bool sending) { sending_ = sending; }

 private:
  void accept();
  void pace();
  void dropAll(bool reset);

  std::vector<AdtsFrame> frames_;
  FrameSent onFrameSent_;
  int listener_ = -1;
  int wake_[2] = {-1, -1};
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
