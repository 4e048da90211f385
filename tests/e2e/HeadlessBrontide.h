#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/AudioSession.h"
#include "support/LoopbackClient.h"

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

// A client of the loopback stream that has sent its request.
inline std::unique_ptr<testsupport::LoopbackClient> requestStream(int port) {
  auto client = std::make_unique<testsupport::LoopbackClient>(std::uint16_t(port));
  client->send(testsupport::LoopbackClient::kStreamRequest);
  return client;
}

}  // namespace brontide::e2e
