#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <string>

#include "support/AudioSession.h"

namespace brontide {
namespace {

using testsupport::AudioSession;
using testsupport::ChildProcess;

const std::string kHeader =
    "HTTP/1.1 200 OK\r\nContent-Type: audio/aac\r\nCache-Control: no-cache, no-store\r\nConnection: close\r\n\r\n";

// Reads up to `size` bytes, giving up after `seconds` without data (a hang guard).
std::string readSome(int fd, std::size_t size, int seconds = 10) {
  std::string bytes;
  while (bytes.size() < size) {
    pollfd pfd{fd, POLLIN, 0};
    if (::poll(&pfd, 1, seconds * 1000) <= 0) break;
    char buffer[4096];
    const ssize_t n = ::recv(fd, buffer, std::min(sizeof buffer, size - bytes.size()), 0);
    if (n <= 0) break;
    bytes.append(buffer, std::size_t(n));
  }
  return bytes;
}

int connectLoopback(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(std::uint16_t(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// Runs a command and returns its exit code, or -1 when it did not exit normally.
int exitCodeOf(const std::string& command) {
  int status = 0;
  testsupport::runCommand(command + " >/dev/null 2>&1", &status);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class Headless : public ::testing::Test {
 protected:
  // CTest may start us with SIGCHLD ignored, which would reap the children before we read their status.
  void SetUp() override { ::signal(SIGCHLD, SIG_DFL); }

  AudioSession session{false};
  std::string brontide = BRONTIDE_EXECUTABLE;
};

TEST_F(Headless, ServesTheStreamHeaderOnItsPortAndStopsCleanlyOnSigterm) {
  ChildProcess app({brontide, "--headless", "--source", "org.example.absent"}, true);
  std::optional<std::string> line;
  int port = 0;
  bool sawWaiting = false;
  while ((line = app.readLine())) {
    if (*line == "detail: Abre org.example.absent y dale al play.") sawWaiting = true;
    if (line->starts_with("port: ")) port = std::stoi(line->substr(6));
    if (port != 0 && sawWaiting) break;
  }
  ASSERT_NE(port, 0) << "no port line";
  EXPECT_TRUE(sawWaiting);

  const int client = connectLoopback(port);
  ASSERT_GE(client, 0);
  ASSERT_EQ(::send(client, "GET /live.aac HTTP/1.1\r\n\r\n", 26, MSG_NOSIGNAL), 26);
  EXPECT_EQ(readSome(client, kHeader.size()), kHeader);

  // A second headless instance refuses to start.
  EXPECT_NE(exitCodeOf(brontide + " --headless"), 0);

  EXPECT_EQ(app.terminate(), 0);
  // The server closed our connection on the way out.
  EXPECT_EQ(readSome(client, 1, 5), "");
  ::close(client);
}

TEST_F(Headless, BadCommandLinesExitWithUsageErrors) {
  EXPECT_EQ(exitCodeOf(brontide + " --volume 7"), 2);
  EXPECT_EQ(exitCodeOf(brontide + " --nonsense"), 2);
  EXPECT_EQ(exitCodeOf(brontide + " --help"), 0);
}

}  // namespace
}  // namespace brontide
