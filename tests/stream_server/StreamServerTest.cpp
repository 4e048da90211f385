#include "stream_server/StreamServer.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "fakes/RecordingLog.h"
#include "fakes/VirtualMainQueue.h"
#include "support/Eventually.h"
#include "support/LoopbackClient.h"

namespace brontide {
namespace {

const std::string kHeader(StreamServer::kResponseHeader);

void broadcast(FrameServer& server, std::string_view bytes) {
  server.broadcast({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
}

std::string pattern(int seed, std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((seed * 131 + i * 7) & 0xff);
  return bytes;
}

using Client = testsupport::LoopbackClient;

class StreamServerTest : public ::testing::Test {
 protected:
  void SetUp() override { start(); }

  void start(StreamServer::Limits limits = {}) {
    server_.reset();
    readyPorts_.clear();
    auto made = StreamServer::create(
        mainQueue_,
        [this](std::uint16_t port) {
          readyPorts_.push_back(port);
          readyThread_ = std::this_thread::get_id();
        },
        [this](Error error) { errors_.push_back(std::move(error)); }, &log_, limits);
    ASSERT_TRUE(made.has_value()) << logText(made.error());
    server_ = *made;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);  // against hangs only
    while (readyPorts_.empty() && std::chrono::steady_clock::now() < deadline) {
      mainQueue_.runReady();
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_EQ(readyPorts_.size(), 1u);
    ASSERT_EQ(readyThread_, std::this_thread::get_id()) << "the port must be reported on the main queue";
    port_ = readyPorts_.front();
  }

  void TearDown() override {
    server_.reset();
    mainQueue_.runReady();
    EXPECT_THAT(errors_, ::testing::IsEmpty());
  }

  // A client that has sent its request and read the header, so it is registered for broadcasts.
  std::unique_ptr<Client> join(std::string_view request = "GET /live.aac HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n") {
    auto client = std::make_unique<Client>(port_);
    client->send(request);
    EXPECT_EQ(client->read(kHeader.size()), kHeader);
    return client;
  }

  fakes::VirtualMainQueue mainQueue_;
  fakes::RecordingLog log_;
  std::shared_ptr<StreamServer> server_;
  std::uint16_t port_ = 0;
  std::vector<std::uint16_t> readyPorts_;
  std::thread::id readyThread_;
  std::vector<Error> errors_;
};

TEST_F(StreamServerTest, StreamServer_AnswersAnyRequestWithTheHeaderThenTheStream) {
  struct Request {
    const char* name;
    std::string bytes;
    bool halfClose;
  };
  EXPECT_FALSE(Client(port_, "127.0.0.2").connected()) << "listens on the loopback address only";
  for (const auto& request : {Request{"otherMethodAndPath", "POST /otra?x=1 HTTP/1.0\r\n\r\n", false},
                              Request{"binaryGarbage", std::string("\0\xff\x13\x37 no es http", 16), false},
                              Request{"megabyteRequest", pattern(3, 1 << 20), false},
                              Request{"nothingThenHalfClose", "", true},
                              Request{"requestThenHalfClose", "GET / HTTP/1.1\r\n\r\n", true}}) {
    SCOPED_TRACE(request.name);
    Client client(port_);
    client.send(request.bytes);
    if (request.halfClose) client.shutdownSending();
    ASSERT_EQ(client.read(kHeader.size()), kHeader);
    broadcast(*server_, "frame-1");
    broadcast(*server_, "frame-2");
    EXPECT_EQ(client.read(14), "frame-1frame-2");
  }
}

TEST_F(StreamServerTest, StreamServer_ClientsReceiveIdenticalBytesFromWhenEachJoinedWhateverOthersDo) {
  broadcast(*server_, "nobody hears this");
  broadcast(*server_, "");
  auto first = join();
  std::string expected;
  const auto frame = [&](int i) {
    expected += pattern(i, 1 + i * 13);
    broadcast(*server_, pattern(i, 1 + i * 13));
  };
  Client resetAtOnce(port_);
  resetAtOnce.reset();
  frame(1);
  auto resetAfterHeader = join();
  frame(2);
  resetAfterHeader->reset();
  { auto closedCleanly = join(); }  // its next writes meet RST, then EPIPE, which must not raise SIGPIPE
  for (int i = 3; i < 50; ++i) frame(i);
  Client flood(port_);
  flood.send(pattern(9, 1 << 20));
  flood.reset();
  Client silent(port_);
  EXPECT_EQ(first->read(expected.size()), expected);

  auto second = join("\x16\x03\x01 not a request");
  const auto joined = expected.size();
  for (int i = 50; i < 200; ++i) frame(i);
  EXPECT_EQ(first->read(expected.size() - joined), expected.substr(joined));
  EXPECT_EQ(second->read(expected.size() - joined), expected.substr(joined));
}

TEST_F(StreamServerTest, StreamServer_DisconnectsAClientWithTooMuchUnsent) {
  Client slow(port_, "127.0.0.1", 4096);
  slow.send("GET /live.aac HTTP/1.1\r\n\r\n");
  ASSERT_EQ(slow.read(kHeader.size()), kHeader);
  auto fast = join();
  // Far more than the bound plus what the kernel buffers on loopback; the fast client reads in lock-step.
  constexpr std::size_t kChunk = 64 * 1024;
  constexpr int kChunks = 256;
  std::string stream;
  for (int i = 0; i < kChunks; ++i) {
    const auto chunk = pattern(i, kChunk);
    stream += chunk;
    broadcast(*server_, chunk);
    ASSERT_EQ(fast->read(kChunk), chunk) << "chunk " << i;
  }
  const auto received = slow.read(stream.size());
  EXPECT_TRUE(slow.closed());
  EXPECT_LT(received.size(), stream.size());
  EXPECT_EQ(received, stream.substr(0, received.size()));
}

// Connections that never ask cannot crowd out a player: the oldest silent one makes room, and each goes after the
// wait; registered readers are never pushed out.
TEST_F(StreamServerTest, StreamServer_HoldsAtMostItsLimitAndClosesThoseThatNeverAsk) {
  constexpr int kLimit = 8;
  start({.connections = kLimit, .requestWait = std::chrono::milliseconds(1500)});
  const auto openCount = [](const auto& clients) {
    return std::ranges::count_if(clients, [](const auto& c) { return c->open(); });
  };
  std::vector<std::unique_ptr<Client>> silent;
  for (int i = 0; i < 3 * kLimit; ++i) silent.push_back(std::make_unique<Client>(port_));
  auto player = join();
  EXPECT_TRUE(testsupport::eventually([&] { return openCount(silent) == kLimit - 1; }));
  EXPECT_TRUE(silent.back()->open()) << "the newest silent ones are kept, the oldest go";
  EXPECT_FALSE(silent.front()->open());
  EXPECT_TRUE(log_.contains("stream server: 8 connections open"));

  // Those that never ask go after the wait; the player stays.
  EXPECT_TRUE(testsupport::eventually([&] { return openCount(silent) == 0; }));
  EXPECT_TRUE(player->open());

  // Readers fill every place: a new connection is closed at once and none of them is pushed out.
  std::vector<std::unique_ptr<Client>> readers;
  for (int i = 0; i < kLimit - 1; ++i) readers.push_back(join());
  Client late(port_);
  EXPECT_EQ(late.read(), "");
  broadcast(*server_, "frame");
  EXPECT_EQ(player->read(5), "frame");
  for (auto& reader : readers) EXPECT_EQ(reader->read(5), "frame");
}

enum class Shutdown { Stop, StopThenDrop, Drop };
constexpr const char* kShutdownNames[] = {"stop", "stopThenDrop", "drop"};
class StreamServerShutdownTest : public StreamServerTest, public ::testing::WithParamInterface<Shutdown> {};

TEST_P(StreamServerShutdownTest, StreamServer_ClosesEveryClientAndThePort) {
  // Accepted before the registered one joins, since the listener takes connections in order.
  Client pending(port_);
  ASSERT_TRUE(pending.connected());
  auto registered = join();
  if (GetParam() != Shutdown::Drop) server_->stop();
  if (GetParam() != Shutdown::Drop) broadcast(*server_, "after stop");
  if (GetParam() != Shutdown::Stop) server_.reset();

  EXPECT_FALSE(Client(port_).connected());
  EXPECT_EQ(registered->read(), "");
  EXPECT_EQ(pending.read(), "");
  EXPECT_TRUE(registered->closed() && pending.closed());
}

INSTANTIATE_TEST_SUITE_P(Shutdowns, StreamServerShutdownTest,
                         ::testing::Values(Shutdown::Stop, Shutdown::StopThenDrop, Shutdown::Drop),
                         [](const auto& test) { return std::string(kShutdownNames[int(test.param)]); });

TEST_F(StreamServerTest, StreamServer_CreationFailureFiresNoCallback) {
#ifdef __SANITIZE_ADDRESS__
  // The sanitizer runtime opens descriptors of its own while checking the thrown error.
  GTEST_SKIP() << "needs descriptor exhaustion, which the ASan/UBSan runtime does not survive";
#endif
  const int probe = ::open("/dev/null", O_RDONLY);  // the lowest free descriptor number
  ASSERT_GE(probe, 0);
  ::close(probe);
  rlimit saved{};
  ::getrlimit(RLIMIT_NOFILE, &saved);
  rlimit exhausted = saved;
  exhausted.rlim_cur = static_cast<rlim_t>(probe);
  int calls = 0;
  fakes::VirtualMainQueue queue;
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &exhausted), 0);
  auto made = StreamServer::create(queue, [&](std::uint16_t) { ++calls; }, [&](Error) { ++calls; });
  ::setrlimit(RLIMIT_NOFILE, &saved);

  ASSERT_FALSE(made.has_value());
  EXPECT_EQ(made.error().code, ErrorCode::ServerFailed);
  EXPECT_FALSE(made.error().detail.empty()) << "the system's own words say why";
  queue.runReady();
  EXPECT_EQ(calls, 0);
}

}  // namespace
}  // namespace brontide
