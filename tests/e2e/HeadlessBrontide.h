#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "support/AudioSession.h"

// `brontide --headless` as a child process whose line protocol (state:, detail:, port:, level:) the test
// reads, and a loopback client of its stream. Shared by the end-to-end tests and the pipeline benchmark.
namespace brontide::e2e {

using Clock = std::chrono::steady_clock;

class HeadlessBrontide {
 public:
  // `environment` entries override or add to this process's environment.
  HeadlessBrontide(const std::string& executable, const std::vector<std::string>& arguments,
                   const std::map<std::string, std::string>& environment = {})
      : child_(withHeadless(executable, arguments), true, environment) {}

  [[nodiscard]] pid_t pid() const { return child_.pid(); }

  using Match = std::function<bool(const std::string&)>;
  static Match is(const std::string& line) {
    return [line](const std::string& l) { return l == line; };
  }

  // The index of the first line at or after `from` that satisfies `match`, reading more until `timeout` (a hang
  // guard).
  std::optional<std::size_t> find(const Match& match, std::size_t from,
                                  std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    const auto deadline = Clock::now() + timeout;
    for (; from < lines_.size() || readMore(deadline); ++from)
      if (match(lines_[from])) return from;
    return std::nullopt;
  }
  // The first line from the cursor on that satisfies `match`; the cursor moves past it, or past every line read
  // when none does. Lines passed over stay in lines().
  std::optional<std::string> waitFor(const Match& match, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    const auto at = find(match, cursor_, timeout);
    cursor_ = at ? *at + 1 : lines_.size();
    return at ? std::optional(lines_[*at]) : std::nullopt;
  }
  std::optional<std::string> waitForLine(const std::string& line,
                                         std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    return waitFor(is(line), timeout);
  }
  // Every line read so far; reads whatever arrives within `for`.
  const std::vector<std::string>& linesAfter(std::chrono::milliseconds wait) {
    const auto deadline = Clock::now() + wait;
    while (readMore(deadline)) {
    }
    return lines_;
  }
  [[nodiscard]] const std::vector<std::string>& lines() const { return lines_; }
  // The lines so far on one line, for failure messages.
  [[nodiscard]] std::string transcript() const {
    std::string text;
    for (const auto& line : lines_) text += line + " | ";
    return text;
  }
  [[nodiscard]] std::size_t cursor() const { return cursor_; }

  // The stream's port from the "port: " line.
  int port() {
    if (port_ == 0) {
      const auto saved = cursor_;
      cursor_ = 0;
      if (auto line = waitFor([](const std::string& l) { return l.starts_with("port: "); }))
        port_ = std::stoi(line->substr(6));
      cursor_ = std::max(saved, cursor_);
    }
    return port_;
  }

  // SIGTERM, then the exit status: 128 + the signal that ended it, or -1 when it was still running 10 s later.
  int terminate() { return child_.terminate().value_or(-1); }

 private:
  bool readMore(Clock::time_point deadline) {
    auto line = child_.readLine(std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()));
    if (line) lines_.push_back(std::move(*line));
    return line.has_value();
  }

  static std::vector<std::string> withHeadless(const std::string& executable, std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), {executable, "--headless"});
    return arguments;
  }

  testsupport::ChildProcess child_;
  std::vector<std::string> lines_;
  std::size_t cursor_ = 0;
  int port_ = 0;
};

// A client of the loopback stream: sends a request, then reads the response as it comes.
class StreamClient {
 public:
  explicit StreamClient(int port) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(std::uint16_t(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::send(fd_, kRequest, std::strlen(kRequest), MSG_NOSIGNAL) < 0) {
      ::close(fd_);
      fd_ = -1;
    }
  }
  ~StreamClient() {
    if (fd_ >= 0) ::close(fd_);
  }
  StreamClient(const StreamClient&) = delete;
  StreamClient& operator=(const StreamClient&) = delete;

  [[nodiscard]] bool connected() const { return fd_ >= 0; }

  // Whatever arrives within `wait` (empty at the end of the stream or after `wait` of silence).
  std::string read(std::chrono::milliseconds wait) {
    std::string bytes;
    if (fd_ < 0) return bytes;
    pollfd pfd{fd_, POLLIN, 0};
    if (::poll(&pfd, 1, int(wait.count())) <= 0) return bytes;
    char buffer[16384];
    const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
    if (n > 0) bytes.assign(buffer, std::size_t(n));
    return bytes;
  }
  // Reads for `duration`, stopping early at the end of the stream.
  std::string readFor(std::chrono::milliseconds duration) {
    std::string bytes;
    const auto deadline = Clock::now() + duration;
    while (Clock::now() < deadline) {
      auto chunk = read(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()) +
                        std::chrono::milliseconds(1));
      if (chunk.empty()) break;
      bytes += chunk;
    }
    return bytes;
  }

 private:
  static constexpr const char* kRequest = "GET /live.aac HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
  int fd_ = -1;
};

}  // namespace brontide::e2e
