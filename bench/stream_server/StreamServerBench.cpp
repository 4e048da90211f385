// Fan-out of a 256 kbit/s stream of ADTS-sized frames to 1, 10 and 100 loopback clients.
// Prints process CPU and server-thread CPU per client-second, the delivery lag from broadcast()
// to the client's read, and the cost of broadcast() on the caller's thread. Never fails on figures.
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "fakes/VirtualMainQueue.h"
#include "stream_server/StreamServer.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr double kFrameSeconds = 1024.0 / 48000.0;        // one AAC packet at 48 kHz
constexpr std::size_t kFrameBytes = 683;                   // 256000 bit/s / 46.875 frames/s
constexpr auto kRun = std::chrono::seconds(4);

std::int64_t nowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

double cpuSeconds(const rusage& usage) {
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// CPU clock of the thread named "brontide.server" (Linux encodes a tid's clock as ~tid << 3 | 6).
clockid_t serverThreadClock() {
  DIR* tasks = ::opendir("/proc/self/task");
  clockid_t found = CLOCK_THREAD_CPUTIME_ID;
  while (auto* entry = tasks ? ::readdir(tasks) : nullptr) {
    std::ifstream comm(std::string("/proc/self/task/") + entry->d_name + "/comm");
    std::string name;
    if (std::getline(comm, name) && name == "brontide.server") {
      found = static_cast<clockid_t>((~static_cast<unsigned>(std::atoi(entry->d_name)) << 3) | 6);
    }
  }
  if (tasks) ::closedir(tasks);
  return found;
}

double threadSeconds(clockid_t clock) {
  timespec t{};
  ::clock_gettime(clock, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

double percentile(std::vector<double>& values, double p) {
  if (values.empty()) return 0;
  const auto index = static_cast<std::size_t>(p * static_cast<double>(values.size() - 1));
  std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(index), values.end());
  return values[index];
}

struct Reader {
  int fd = -1;
  std::size_t headerLeft = brontide::StreamServer::kResponseHeader.size();
  std::size_t frameFill = 0;
  unsigned char frame[kFrameBytes]{};
};

void run(int clientCount) {
  brontide::fakes::VirtualMainQueue mainQueue;
  std::uint16_t port = 0;
  auto made = brontide::StreamServer::create(
      mainQueue, [&](std::uint16_t p) { port = p; },
      [](const brontide::Error& error) { std::fprintf(stderr, "%s\n", brontide::logText(error).c_str()); });
  if (!made) {
    std::fprintf(stderr, "%s\n", brontide::logText(made.error()).c_str());
    return;
  }
  auto server = *made;
  while (port == 0) {
    mainQueue.runReady();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }

  const int poller = ::epoll_create1(0);
  std::vector<Reader> readers(static_cast<std::size_t>(clientCount));
  for (auto& reader : readers) {
    reader.fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::connect(reader.fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    const char request[] = "GET /live.aac HTTP/1.1\r\n\r\n";
    ::send(reader.fd, request, sizeof request - 1, MSG_NOSIGNAL);
    ::fcntl(reader.fd, F_SETFL, O_NONBLOCK);
    epoll_event event{EPOLLIN, {.ptr = &reader}};
    ::epoll_ctl(poller, EPOLL_CTL_ADD, reader.fd, &event);
  }

  std::atomic<int> registered{0};
  std::atomic<bool> done{false};
  std::vector<double> lagsUs;
  lagsUs.reserve(static_cast<std::size_t>(clientCount) * 400);
  std::thread readerThread([&] {
    epoll_event events[128];
    unsigned char buffer[65536];
    while (!done.load()) {
      const int n = ::epoll_wait(poller, events, 128, 50);
      for (int i = 0; i < n; ++i) {
        auto& reader = *static_cast<Reader*>(events[i].data.ptr);
        const auto got = ::recv(reader.fd, buffer, sizeof buffer, 0);
        if (got <= 0) continue;
        const auto received = nowNs();
        std::size_t offset = 0;
        const auto size = static_cast<std::size_t>(got);
        if (reader.headerLeft > 0) {
          offset = std::min(reader.headerLeft, size);
          reader.headerLeft -= offset;
          if (reader.headerLeft == 0) ++registered;
        }
        while (offset < size) {
          const auto take = std::min(kFrameBytes - reader.frameFill, size - offset);
          std::memcpy(reader.frame + reader.frameFill, buffer + offset, take);
          reader.frameFill += take;
          offset += take;
          if (reader.frameFill == kFrameBytes) {
            std::int64_t sent = 0;
            std::memcpy(&sent, reader.frame, sizeof sent);
            lagsUs.push_back(static_cast<double>(received - sent) / 1e3);
            reader.frameFill = 0;
          }
        }
      }
    }
  });
  while (registered.load() < clientCount) std::this_thread::sleep_for(std::chrono::milliseconds(1));

  const clockid_t serverClock = serverThreadClock();
  std::vector<std::uint8_t> frame(kFrameBytes, 0x5a);
  std::vector<double> callNs;
  rusage before{}, after{};
  ::getrusage(RUSAGE_SELF, &before);
  const double serverBefore = threadSeconds(serverClock);
  const auto start = Clock::now();
  auto next = start;
  int frames = 0;
  while (Clock::now() - start < kRun) {
    std::this_thread::sleep_until(next);
    const auto stamp = nowNs();
    std::memcpy(frame.data(), &stamp, sizeof stamp);
    const auto called = Clock::now();
    server->broadcast(frame);
    callNs.push_back(static_cast<double>(std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - called).count()));
    ++frames;
    next = start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(kFrameSeconds * frames));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // let the last frames arrive
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  ::getrusage(RUSAGE_SELF, &after);
  const double serverCpu = threadSeconds(serverClock) - serverBefore;
  done = true;
  readerThread.join();
  server->stop();
  server.reset();
  for (auto& reader : readers) ::close(reader.fd);
  ::close(poller);

  const double clientSeconds = seconds * clientCount;
  const auto delivered = lagsUs.size();
  std::printf("%4d clients  %5d frames  delivered %6zu/%-6d  cpu/client-s: process %7.1f us  server thread %7.1f us"
              "  lag us p50 %7.0f p90 %7.0f p99 %7.0f max %7.0f  broadcast() ns p50 %5.0f p99 %6.0f\n",
              clientCount, frames, delivered, frames * clientCount,
              (cpuSeconds(after) - cpuSeconds(before)) / clientSeconds * 1e6, serverCpu / clientSeconds * 1e6,
              percentile(lagsUs, 0.5), percentile(lagsUs, 0.9), percentile(lagsUs, 0.99), percentile(lagsUs, 1.0),
              percentile(callNs, 0.5), percentile(callNs, 0.99));
}

}  // namespace

int main() {
  std::printf("stream server fan-out: %zu-byte frames every %.2f ms (256 kbit/s), %lld s per run\n", kFrameBytes,
              kFrameSeconds * 1e3, static_cast<long long>(kRun.count()));
  for (int clients : {1, 10, 100}) run(clients);
}
