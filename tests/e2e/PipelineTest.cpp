// The whole pipeline in a private PipeWire session: real tone applications, the real brontide executable,
// its loopback stream decoded with libavcodec and its player recorded on a sink of its own.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <set>
#include <sstream>

#include "base/Error.h"
#include "e2e/HeadlessBrontide.h"
#include "support/AacDecoder.h"
#include "support/AudioSession.h"

namespace brontide::e2e {
namespace {

using namespace std::chrono_literals;
using testsupport::AacDecoder;
using testsupport::AudioSession;
using testsupport::ChildProcess;
using testsupport::eventually;
using testsupport::runCommand;
using testsupport::sinkTone;
using testsupport::toneAmplitude;
using testsupport::kDefaultSink;

constexpr const char* kTapSink = "brontide_tap";
constexpr const char* kPlayerSink = "player_out";
constexpr double kPresent = 0.2;  // the tones play at amplitude 0.5
constexpr double kAbsent = 0.02;
const std::string kHeader =
    "HTTP/1.1 200 OK\r\nContent-Type: audio/aac\r\nCache-Control: no-cache, no-store\r\nConnection: close\r\n\r\n";
const std::string kLive440 = "Tono 440 \u00B7 48 kHz \u00B7 AAC 256 kbps";
const std::string kNoPipeWire = "detail: " + userText(Error{ErrorCode::NoSoundServer, {}});

// A test application playing one tone under a known application id; its node is named after `name`.
std::unique_ptr<ChildProcess> playTone(const std::string& appId = "org.example.tone440",
                                       const std::string& name = "Tono 440", int frequency = 440) {
  auto tone = std::make_unique<ChildProcess>(
      std::vector<std::string>{TONE_SOURCE, appId, name, std::to_string(frequency)}, true);
  tone->readLine();  // "playing"
  return tone;
}

// The nodes that `node`'s output ports are linked into (by node name), from pw-link.
std::set<std::string> linkedInto(const std::string& node) {
  std::set<std::string> targets;
  std::istringstream lines(runCommand("pw-link -l 2>/dev/null"));
  std::string line;
  bool ours = false;
  while (std::getline(lines, line)) {
    if (!line.starts_with(" ")) {
      ours = line.starts_with(node + ":");
    } else if (ours && line.find("|->") != std::string::npos) {
      const auto start = line.find("|->") + 4;
      targets.insert(line.substr(start, line.rfind(':') - start));
    }
  }
  return targets;
}

// Whether `node` ends up linked into `sink` alone.
bool playsInto(const std::string& node, const std::string& sink) {
  return eventually([&] { return linkedInto(node) == std::set<std::string>{sink}; });
}

// The id of the first node whose node.name begins with `prefix`, from pw-cli.
std::optional<std::uint32_t> nodeId(const std::string& prefix) {
  std::istringstream lines(runCommand("pw-cli ls Node 2>/dev/null"));
  std::string line;
  std::optional<std::uint32_t> id;
  while (std::getline(lines, line)) {
    if (auto at = line.find("id "); at != std::string::npos && line.find("type PipeWire:Interface:Node") != std::string::npos) {
      id = std::uint32_t(std::stoul(line.substr(at + 3)));
    } else if (line.find("node.name = \"" + prefix) != std::string::npos && id) {
      return id;
    }
  }
  return std::nullopt;
}

// The exit status of `brontide <arguments>`, or -1 when it did not exit normally.
int exitCode(const std::string& arguments) {
  int status = 0;
  runCommand(std::string(BRONTIDE_EXECUTABLE) + " " + arguments + " >/dev/null 2>&1", &status);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class Pipeline : public ::testing::Test {
 protected:
  // CTest may start us with SIGCHLD ignored, which would reap the children before we read their status.
  void SetUp() override { ::signal(SIGCHLD, SIG_DFL); }

  // Starts brontide on `source`; returns once its stream is live with `detail`.
  std::unique_ptr<HeadlessBrontide> startLive(const std::string& source, const std::string& detail,
                                              std::vector<std::string> options = {}) {
    options.insert(options.begin(), {"--source", source});
    auto app = std::make_unique<HeadlessBrontide>(BRONTIDE_EXECUTABLE, options);
    EXPECT_TRUE(app->waitForLine("detail: " + detail)) << "lines so far: " << app->transcript();
    return app;
  }
  // A client of the stream that has read and checked the response header.
  static std::unique_ptr<testsupport::LoopbackClient> connectTo(HeadlessBrontide& app) {
    auto client = requestStream(app.port());
    EXPECT_TRUE(client->connected());
    EXPECT_EQ(client->read(kHeader.size()), kHeader);
    return client;
  }
  AudioSession session{false};
};

TEST_F(Pipeline, StreamsOnlyTheChosenAppToTheClientAndThePlayerAndGivesItBackOnSigterm) {
  ASSERT_TRUE(AudioSession::nodeExists(kDefaultSink));
  ASSERT_TRUE(session.addNullSink(kPlayerSink));
  auto chosen = playTone();
  auto other = playTone("org.example.Tone1000", "Tono 1000", 1000);

  // `--apps` lists a playing application by its identity, lowercased, and its name; never Brontide.
  const auto apps = runCommand("QT_QPA_PLATFORM=offscreen '" + std::string(BRONTIDE_EXECUTABLE) + "' --apps");
  EXPECT_TRUE(apps.contains("org.example.tone1000\tTono 1000\n")) << apps;
  EXPECT_FALSE(apps.starts_with("brontide") || apps.contains("\nbrontide")) << apps;

  auto app = startLive("org.example.tone440", kLive440);
  ASSERT_NE(app->port(), 0);

  // The stream: 440 Hz at 48 kHz in stereo, no trace of the other app.
  auto client = connectTo(*app);
  AacDecoder decoder;
  ASSERT_TRUE(decoder.ready());
  decoder.decodeAll(client->readFor(500ms));  // the encoder's start-up
  const auto streamed = decoder.decodeAll(client->readFor(1500ms));
  EXPECT_EQ(decoder.errors(), 0);
  EXPECT_EQ(decoder.sampleRate(), 48000);
  EXPECT_EQ(decoder.channels(), 2);
  ASSERT_GT(streamed.size(), 48000u);
  EXPECT_GT(toneAmplitude(streamed, 440), kPresent);
  EXPECT_LT(toneAmplitude(streamed, 1000), kAbsent);

  // The chosen app plays into Brontide's sink alone; the other one stays on the output.
  EXPECT_TRUE(playsInto("Tono 440", kTapSink)) << ::testing::PrintToString(linkedInto("Tono 440"));
  EXPECT_EQ(linkedInto("Tono 1000"), std::set<std::string>{kDefaultSink});

  // The player, moved to a sink of its own as a mixer would, plays the chosen app there.
  std::optional<std::uint32_t> player;
  ASSERT_TRUE(eventually([&] { return (player = nodeId("brontide.player.")).has_value(); }));
  runCommand("pw-metadata -n default " + std::to_string(*player) + " target.object " + kPlayerSink + " >/dev/null");
  ASSERT_TRUE(eventually([&] { return sinkTone(440, 0.5, kPlayerSink) > kPresent; }, 15s))
      << "the player never played the tone on " << kPlayerSink;
  testsupport::MonitorRecording atPlayer(kPlayerSink), atOutput(kDefaultSink);
  // A loaded machine may link a recorder late: the window starts once both hear.
  ASSERT_TRUE(eventually([&] { return atPlayer.hearsTone(440) && !atOutput.last(0.2).empty(); }, 5s));
  std::this_thread::sleep_for(1s);
  const auto played = atPlayer.last(1.0), heard = atOutput.last(1.0);
  EXPECT_GT(toneAmplitude(played, 440), kPresent);
  EXPECT_LT(toneAmplitude(played, 1000), kAbsent);
  EXPECT_LT(toneAmplitude(heard, 440), kAbsent) << "the chosen app is silent on the normal output";
  EXPECT_GT(toneAmplitude(heard, 1000), kPresent);

  EXPECT_EQ(app->terminate(), 0);
  EXPECT_TRUE(playsInto("Tono 440", kDefaultSink)) << ::testing::PrintToString(linkedInto("Tono 440"));
  EXPECT_GT(sinkTone(440), kPresent);
  EXPECT_FALSE(AudioSession::nodeExists(kTapSink)) << "Brontide's sink goes with it";
}

TEST_F(Pipeline, WaitsForAnAbsentSourcePicksItUpWhenItPlaysAndStaysLiveWhenItQuits) {
  auto app = std::make_unique<HeadlessBrontide>(BRONTIDE_EXECUTABLE,
                                                std::vector<std::string>{"--source", "org.example.late"});
  ASSERT_TRUE(app->waitForLine("state: Esperando audio"));
  ASSERT_TRUE(app->waitForLine("detail: Abre org.example.late y dale al play.")) << app->transcript();
  auto client = connectTo(*app);

  // A second instance refuses to start; a bad command line is a usage error.
  EXPECT_NE(exitCode("--headless"), 0);
  EXPECT_EQ(exitCode("--volume 7"), 2);
  EXPECT_EQ(exitCode("--nonsense"), 2);
  EXPECT_EQ(exitCode("--help"), 0);

  const auto started = Clock::now();
  auto tone = playTone("org.example.late", "Tono tardío");
  ASSERT_TRUE(app->waitForLine("state: En directo", 10s));
  // Named by the running application, although it was not running when Brontide read the list.
  ASSERT_TRUE(app->waitForLine("detail: Tono tardío \u00B7 48 kHz \u00B7 AAC 256 kbps")) << app->transcript();
  std::printf("picked up %.2f s after the source began to play\n",
              std::chrono::duration<double>(Clock::now() - started).count());
  AacDecoder decoder;
  decoder.decodeAll(client->readFor(500ms));
  EXPECT_GT(toneAmplitude(decoder.decodeAll(client->readFor(1000ms)), 440), kPresent);

  // Quitting leaves a silent tap: still live, and the stream keeps flowing, now silent.
  tone.reset();
  ASSERT_TRUE(app->waitForLine("level: 0.000", 10s));
  const auto after = app->cursor();
  const auto silent = decoder.decodeAll(client->readFor(4500ms));  // more than two watch ticks
  EXPECT_GT(silent.size(), 4 * 48000u);
  EXPECT_LT(toneAmplitude(silent, 440), kAbsent);
  const auto& lines = app->linesAfter(100ms);
  for (auto i = after; i < lines.size(); ++i) EXPECT_FALSE(lines[i].starts_with("state: ")) << lines[i];
  EXPECT_EQ(app->terminate(), 0);
}

TEST_F(Pipeline, AGraphAt44100HzIsStreamedAt44kHzAndTheVolumeIsApplied) {
  runCommand("pw-metadata -n settings 0 clock.force-rate 44100 >/dev/null");
  auto tone = playTone();
  auto app = startLive("org.example.tone440", "Tono 440 \u00B7 44 kHz \u00B7 AAC 256 kbps", {"--volume", "0.5"});
  auto client = connectTo(*app);
  AacDecoder decoder;
  decoder.decodeAll(client->readFor(500ms));
  const auto streamed = decoder.decodeAll(client->readFor(1000ms));
  EXPECT_EQ(decoder.sampleRate(), 44100);
  // Volume 0.5 is a gain of 0.25 on the app's 0.5.
  EXPECT_NEAR(toneAmplitude(streamed, 440, 44100), 0.125, 0.02);
  EXPECT_EQ(app->terminate(), 0);
}

// The session bus restarts, twice: Brontide keeps streaming and never takes it for the user's stop.
TEST_F(Pipeline, KeepsStreamingWhileTheSessionBusRestarts) {
  auto tone = playTone();
  auto app = startLive("org.example.tone440", kLive440);
  auto client = connectTo(*app);
  AacDecoder decoder;
  decoder.decodeAll(client->readFor(500ms));
  const auto after = app->linesAfter(100ms).size();
  for (int restart = 0; restart < 2; ++restart) {
    ASSERT_TRUE(session.restartBus());
    // Past the guard's 2 s check, so the second restart meets the connection it found again.
    EXPECT_GT(toneAmplitude(decoder.decodeAll(client->readFor(2500ms)), 440), kPresent) << app->transcript();
  }
  const auto& lines = app->linesAfter(100ms);
  for (auto i = after; i < lines.size(); ++i) EXPECT_FALSE(lines[i].starts_with("state: ")) << lines[i];
  EXPECT_EQ(app->terminate(), 0);
}

// The session's pipewire daemon goes away and comes back (with a new WirePlumber and the app restarted).
class PipelineWithoutPipeWire : public Pipeline {
 protected:
  void stopDaemon() {
    session.stopWirePlumber();
    const auto pid = recordedPid("pipewire");
    ASSERT_GT(pid, 0);
    ::kill(pid, SIGTERM);
    ASSERT_TRUE(eventually([&] { return ::kill(pid, 0) != 0; }));
    runCommand("sed -i '/ pipewire$/d' " + session.dir() + "/pids");
  }
  void startDaemon() {
    runCommand("cd " + session.dir() + " && { setsid pipewire >logs/pipewire-again.log 2>&1 </dev/null & echo \"$! pipewire\" >>pids; }");
    ASSERT_TRUE(eventually([&] { return ::access((session.dir() + "/run/pipewire-0").c_str(), F_OK) == 0; }));
    ASSERT_TRUE(session.startWirePlumber());
  }
  pid_t recordedPid(const std::string& name) {
    std::ifstream pids(session.dir() + "/pids");
    pid_t pid;
    std::string what;
    while (pids >> pid >> what)
      if (what == name) return pid;
    return -1;
  }
};

TEST_F(PipelineWithoutPipeWire, SaysSoWhenNoneIsRunningAtAll) {
  const std::string empty = session.dir() + "/no-pipewire";
  ASSERT_EQ(::mkdir(empty.c_str(), 0700), 0);
  HeadlessBrontide app(BRONTIDE_EXECUTABLE, {"--source", "org.example.tone440"}, {{"XDG_RUNTIME_DIR", empty}});
  ASSERT_TRUE(app.waitForLine("state: Error")) << app.transcript();
  EXPECT_TRUE(app.waitForLine(kNoPipeWire));
  EXPECT_EQ(app.terminate(), 0);
}

// WirePlumber restarts, then the pipewire daemon: back within a watch tick (the new daemon gives the restarted app
// the serial it had before), then gone for longer. One stream and one client throughout.
TEST_F(PipelineWithoutPipeWire, FollowsWirePlumberAndPipeWireRestartsOnOneStream) {
  auto tone = playTone();
  auto app = startLive("org.example.tone440", kLive440);
  auto client = connectTo(*app);
  AacDecoder decoder;
  // Whether the stream comes to carry the tone (or, with `present` false, silence).
  const auto streams = [&](bool present) {
    return eventually([&] {
      const double level = toneAmplitude(decoder.decodeAll(client->readFor(500ms)), 440);
      return present ? level > kPresent : level < kAbsent;
    }, 20s);
  };

  session.stopWirePlumber();
  ASSERT_TRUE(session.startWirePlumber());
  EXPECT_TRUE(playsInto("Tono 440", kTapSink)) << ::testing::PrintToString(linkedInto("Tono 440"));
  EXPECT_TRUE(streams(true));
  // Links, not sound: the player may be back on the normal output already (WirePlumber 0.5 links it again).
  EXPECT_EQ(linkedInto("Tono 440"), std::set<std::string>{kTapSink}) << "the app stays off the normal output";
  EXPECT_TRUE(std::ranges::none_of(app->linesAfter(100ms),
                                   [](const std::string& l) { return l.starts_with("state: Error"); }));

  tone.reset();
  ASSERT_TRUE(streams(false));  // what the client reads from here on was streamed after the tone stopped
  stopDaemon();
  startDaemon();
  tone = playTone();
  EXPECT_TRUE(streams(true)) << app->transcript();
  EXPECT_TRUE(playsInto("Tono 440", kTapSink));

  tone.reset();
  ASSERT_TRUE(streams(false));
  app->linesAfter(200ms);
  app->waitFor([](const std::string&) { return false; }, 0ms);  // past every line so far
  stopDaemon();
  ASSERT_TRUE(app->waitForLine("state: Error", 10s)) << app->transcript();
  EXPECT_TRUE(app->waitForLine(kNoPipeWire));
  startDaemon();
  tone = playTone();
  ASSERT_TRUE(app->waitForLine("state: En directo", 15s)) << app->transcript();
  EXPECT_TRUE(app->waitForLine("detail: " + kLive440));
  EXPECT_TRUE(streams(true));
  EXPECT_TRUE(playsInto("Tono 440", kTapSink));
  // The player is back too: the app is off the output, so what plays there is the player.
  EXPECT_TRUE(eventually([&] { return sinkTone(440) > kPresent; }, 15s));
  EXPECT_EQ(app->terminate(), 0);
}

}  // namespace
}  // namespace brontide::e2e
