// The brontide executable against the loopback AirPlay network: a tone application in a private PipeWire
// session, its sound at two shairport-sync receivers, one receiver dropping out and coming back.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "base/VolumeLaws.h"
#include "e2e/HeadlessBrontide.h"
#include "linux/avahi/Rig.h"
#include "linux/pipewire/RaopArguments.h"
#include "support/AudioSession.h"
#include "support/ReceiverPcm.h"

namespace brontide::e2e {
namespace {

using namespace std::chrono_literals;
using testsupport::AudioSession;
using testsupport::ChildProcess;
using testsupport::ReceiverPcm;
using testsupport::sinkTone;

constexpr auto kLimit = 20s;  // guards against hangs only
constexpr const char* kSource = "org.example.tone440";
constexpr double kPresent = ReceiverPcm::kHeard;  // at a receiver, whatever volume it holds
constexpr double kAbsent = 0.02;                   // on the computer's output; the source plays at 0.5
// GLib ends the process when the private session bus goes away unless GSettings stays in memory.
const std::map<std::string, std::string> kEnvironment{{"GSETTINGS_BACKEND", "memory"}};

class AirPlay : public testing::Test {
 protected:
  static void SetUpTestSuite() { rig::useNetwork(); }

  void SetUp() override {
    // CTest may start us with SIGCHLD ignored, which would reap the children before we read their status.
    ::signal(SIGCHLD, SIG_DFL);
    ASSERT_FALSE(ReceiverPcm::directory().empty()) << "no AirPlay receivers: scripts/airplay-network up";
    for (const char* name : {"Terraza", "Estudio"}) ASSERT_EQ(rig::command(std::string("start-receiver ") + name), 0);
  }
  void TearDown() override {
    for (const char* name : {"Terraza", "Estudio"}) rig::command(std::string("start-receiver ") + name);
  }

  // Whether the receiver plays sound (not the silence it starts a session with) after its mark.
  static bool soundArrives(const ReceiverPcm& pcm) {
    return testsupport::eventually([&] { return pcm.loudSinceMark(); }, kLimit);
  }
  // The tone level of the next `seconds` the receiver plays.
  static double nextTone(ReceiverPcm& pcm, double seconds = 0.6) {
    pcm.mark();
    if (!testsupport::eventually([&] { return pcm.secondsSinceMark() >= seconds; }, kLimit)) return 0;
    return pcm.tone(440, seconds);
  }

  AudioSession session{false};
};

TEST_F(AirPlay, HeadlessSendsTheSourceToTwoReceiversAndFollowsOneDroppingOutAndComingBack) {
  ChildProcess tone({TONE_SOURCE, kSource, "Tono 440", "440"}, true);
  ASSERT_EQ(tone.readLine(), "playing");
  HeadlessBrontide app(BRONTIDE_EXECUTABLE,
                       {"--source", kSource, "--speaker", "Terraza", "--speaker", "Estudio", "--speaker-volume",
                        "Terraza=1", "--speaker-volume", "Estudio=1"},
                       kEnvironment);

  // The index of the line "route: <what>" at or after `from`.
  const auto route = [&](const std::string& what, std::size_t from = 0) {
    return app.find(HeadlessBrontide::is("route: " + what), from, kLimit);
  };
  ReceiverPcm terraza("Terraza"), estudio("Estudio");
  for (const std::string name : {"Terraza", "Estudio"}) {
    const auto connecting = route(name + " connecting");
    ASSERT_TRUE(connecting) << name << ": " << app.transcript();
    ASSERT_TRUE(route(name + " playing", *connecting + 1)) << name << ": " << app.transcript();
  }
  ASSERT_TRUE(soundArrives(terraza));
  ASSERT_TRUE(soundArrives(estudio));
  EXPECT_GT(nextTone(terraza), kPresent);
  EXPECT_GT(nextTone(estudio), kPresent);
  EXPECT_LT(sinkTone(440), kAbsent);

  ASSERT_EQ(rig::command("stop-receiver Estudio"), 0);
  const auto unreachable = route("Estudio unreachable");
  ASSERT_TRUE(unreachable) << app.transcript();
  EXPECT_GT(nextTone(terraza), kPresent);
  EXPECT_LT(sinkTone(440), kAbsent);

  estudio.mark();
  ASSERT_EQ(rig::command("start-receiver Estudio"), 0);
  ASSERT_TRUE(route("Estudio playing", *unreachable + 1)) << app.transcript();
  ASSERT_TRUE(soundArrives(estudio));
  EXPECT_GT(nextTone(estudio), kPresent);
  EXPECT_GT(nextTone(terraza), kPresent);
  // Terraza never dropped: no line may say otherwise.
  EXPECT_FALSE(std::ranges::any_of(app.lines(), [](const std::string& l) {
    return l == "route: Terraza unreachable" || l == "route: Terraza available";
  })) << app.transcript();

  EXPECT_EQ(app.terminate(), 0);
}

// "Este ordenador" ticked beside a receiver: the computer's output plays the same clicks as the receiver, within
// 200 ms of it (undelayed, over a second apart), and goes on playing when the receiver drops.
TEST_F(AirPlay, TheComputerPlaysInStepWithAReceiverAndGoesOnWhenItDrops) {
  ChildProcess clicks({TONE_SOURCE, "org.example.clicks", "Clics", "clicks"}, true);
  ASSERT_EQ(clicks.readLine(), "playing");
  HeadlessBrontide app(BRONTIDE_EXECUTABLE,
                       {"--source", "org.example.clicks", "--speaker", "Terraza", "--speaker", "Este ordenador",
                        "--speaker-volume", "Terraza=1"},
                       kEnvironment);
  ReceiverPcm terraza("Terraza");
  ASSERT_TRUE(app.find(HeadlessBrontide::is("route: Terraza playing"), 0, kLimit)) << app.transcript();
  ASSERT_TRUE(soundArrives(terraza));
  const auto skews = testsupport::clickSkews(8, {std::string("monitor:") + testsupport::kDefaultSink, "Terraza"});
  ASSERT_TRUE(skews.contains("Terraza")) << "the clicks did not line up";
  std::printf("this computer -> Terraza: %.1f ms\n", skews.at("Terraza") * 1000);
  EXPECT_LT(std::abs(skews.at("Terraza")), 0.2);

  ASSERT_EQ(rig::command("stop-receiver Terraza"), 0);
  ASSERT_TRUE(app.find(HeadlessBrontide::is("route: Terraza unreachable"), 0, kLimit)) << app.transcript();
  testsupport::MonitorRecording computer(testsupport::kDefaultSink);
  std::this_thread::sleep_for(2s);
  float loudest = 0;
  for (const float x : computer.finish()) loudest = std::max(loudest, std::abs(x));
  EXPECT_GT(loudest, 0.1f) << "the computer fell silent";
  EXPECT_EQ(app.terminate(), 0);
}

// Keeps every core busy while it lives, as a loaded desktop would.
class BusyCores {
 public:
  BusyCores() {
    for (unsigned i = 0; i < std::max(2u, std::thread::hardware_concurrency()); ++i)
      threads_.emplace_back([this] {
        while (!stop_.load(std::memory_order_relaxed)) {
        }
      });
  }
  ~BusyCores() {
    stop_ = true;
    for (auto& t : threads_) t.join();
  }

 private:
  std::atomic<bool> stop_{false};
  std::vector<std::thread> threads_;
};

TEST_F(AirPlay, ReceiverChosenWhileLivePlaysAMinuteWithoutAGapAndKeepsItsVolumeForTheNextRun) {
  ASSERT_EQ(rig::command("stop-receiver Terraza"), 0);  // chosen once it appears, while already live
  ChildProcess tone({TONE_SOURCE, kSource, "Tono 440", "440"}, true);
  ASSERT_EQ(tone.readLine(), "playing");
  std::optional<HeadlessBrontide> app;
  app.emplace(BRONTIDE_EXECUTABLE, std::vector<std::string>{"--source", kSource, "--speaker", "Terraza",
                                                              "--speaker-volume", "Terraza=0.8"},
              kEnvironment);
  ASSERT_TRUE(app->find(HeadlessBrontide::is("state: En directo"), 0, kLimit)) << app->transcript();
  std::this_thread::sleep_for(5s);
  ReceiverPcm terraza("Terraza");
  ASSERT_EQ(rig::command("start-receiver Terraza"), 0);
  ASSERT_TRUE(soundArrives(terraza)) << app->transcript();

  {
    BusyCores busy;
    terraza.mark();
    ASSERT_TRUE(testsupport::eventually([&] { return terraza.secondsSinceMark() >= 60; }, 90s));
  }
  const double gap = terraza.longestSilence();
  std::printf("longest gap over 60 s at the receiver, cores busy: %.1f ms\n", gap * 1000);
  EXPECT_LE(gap, 0.010);
  EXPECT_FALSE(terraza.event("start", terraza.markOffset())) << "the receiver stopped for over 0.5 s";
  EXPECT_EQ(app->terminate(), 0);

  // The next run sets the receiver to the volume it was left at before anything else (where it is sent one).
  if (!linux::pipewire::raopSinkSendsVolume(linux::pipewire::LibraryVersion::loaded())) return;
  terraza.markVolumes();
  terraza.mark();
  app.emplace(BRONTIDE_EXECUTABLE, std::vector<std::string>{"--source", kSource, "--speaker", "Terraza"},
              kEnvironment);
  ASSERT_TRUE(soundArrives(terraza)) << app->transcript();
  ASSERT_FALSE(terraza.volumes().empty());
  EXPECT_NEAR(terraza.volumes().front(), volume::airPlayVolumeDb(0.8), 0.05);
  EXPECT_EQ(app->terminate(), 0);
}

// WirePlumber restarts while a receiver plays: the receiver is heard again on its own, the route says it is not
// responding meanwhile, and a stop afterwards gives the app back to the computer's output.
TEST_F(AirPlay, AReceiverComesBackAfterWirePlumberRestartsAndTheAppIsGivenBackAfterwards) {
  ChildProcess tone({TONE_SOURCE, kSource, "Tono 440", "440"}, true);
  ASSERT_EQ(tone.readLine(), "playing");
  HeadlessBrontide app(BRONTIDE_EXECUTABLE, {"--source", kSource, "--speaker", "Terraza", "--speaker-volume", "Terraza=1"},
                       kEnvironment);
  ReceiverPcm terraza("Terraza");
  ASSERT_TRUE(app.find(HeadlessBrontide::is("route: Terraza playing"), 0, kLimit)) << app.transcript();
  ASSERT_TRUE(soundArrives(terraza));

  const auto before = app.linesAfter(0ms).size();
  session.stopWirePlumber();
  ASSERT_TRUE(session.startWirePlumber());
  const auto back = Clock::now();
  terraza.mark();
  ASSERT_TRUE(testsupport::eventually([&] { return terraza.tone(440, 0.3) > kPresent && terraza.secondsSinceMark() > 0.3; },
                                      60s))
      << app.transcript();
  std::printf("receiver heard again %.1f s after WirePlumber returned\n",
              std::chrono::duration<double>(Clock::now() - back).count());
  const auto away = app.find(HeadlessBrontide::is("route: Terraza unreachable"), before, kLimit);
  ASSERT_TRUE(away) << app.transcript();
  EXPECT_TRUE(app.find(HeadlessBrontide::is("route: Terraza playing"), *away + 1, kLimit)) << app.transcript();

  EXPECT_EQ(app.terminate(), 0);
  EXPECT_TRUE(testsupport::eventually([] { return sinkTone(440) > 0.1; }, 10s)) << "the app is silent locally";
}

// Garaje's password, given through the command line to a real keyring on the session bus: none, a wrong one, the
// right one. Only the right one reaches the receiver; a wrong one never loads a sink that would sit silent.
TEST_F(AirPlay, APasswordReceiverPlaysOnlyWithTheRightPasswordFromTheKeyring) {
  const auto cli = [](const std::string& arguments, const std::string& input = "", const std::string& environment = "") {
    int status = -1;
    testsupport::runCommand("printf '" + input + "' | " + environment + BRONTIDE_EXECUTABLE + " " + arguments, &status);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  };
  EXPECT_EQ(cli("--set-password Garaje", "viejo", "DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent "), 1)
      << "no keyring answers without a bus";
  // Unlocked and owning the name before anything asks: the bus would otherwise start a locked one.
  ChildProcess keyring({"bash", "-c", "exec gnome-keyring-daemon --unlock --components=secrets --foreground <<< llavero"});
  ASSERT_TRUE(testsupport::eventually([] {
    return testsupport::runCommand("dbus-send --session --print-reply --dest=org.freedesktop.DBus / "
                                   "org.freedesktop.DBus.NameHasOwner string:org.freedesktop.secrets")
               .find("true") != std::string::npos;
  }, kLimit));
  ASSERT_EQ(cli("--forget-password Garaje"), 0);
  EXPECT_EQ(cli("--set-password Garaje"), 2);

  ChildProcess tone({TONE_SOURCE, kSource, "Tono 440", "440"}, true);
  ASSERT_EQ(tone.readLine(), "playing");
  ReceiverPcm garaje("Garaje");
  const auto run = [&] {
    return std::make_unique<HeadlessBrontide>(
        BRONTIDE_EXECUTABLE, std::vector<std::string>{"--source", kSource, "--speaker", "Garaje"}, kEnvironment);
  };
  auto app = run();
  EXPECT_TRUE(app->find(HeadlessBrontide::is("route: Garaje Requiere contraseña"), 0, kLimit)) << app->transcript();
  EXPECT_EQ(app->terminate(), 0);

  ASSERT_EQ(cli("--set-password Garaje", "viejo"), 0);
  garaje.mark();
  app = run();
  const auto tried = app->find(HeadlessBrontide::is("route: Garaje connecting"), 0, kLimit);
  ASSERT_TRUE(tried) << app->transcript();
  EXPECT_TRUE(app->find(HeadlessBrontide::is("route: Garaje Requiere contraseña"), *tried, kLimit)) << app->transcript();
  EXPECT_EQ(app->terminate(), 0);
  EXPECT_EQ(garaje.secondsSinceMark(), 0);

  ASSERT_EQ(cli("--set-password Garaje", "secreto"), 0);
  app = run();
  ASSERT_TRUE(app->find(HeadlessBrontide::is("route: Garaje playing"), 0, kLimit)) << app->transcript();
  ASSERT_TRUE(soundArrives(garaje));
  EXPECT_GT(nextTone(garaje), kPresent);
  EXPECT_EQ(app->terminate(), 0);
}

TEST_F(AirPlay, ListingCommandsShowTheNetwork) {
  // Both list one catalogue: HomePods first, then by name. Other tests may publish records meanwhile: keep only
  // the network's own devices.
  const std::set<std::string> network{"Este ordenador", "Terraza", "Estudio", "Garaje",  "Salón",
                                      "cocina",         "Baño",    "Dormitorio", "Comedor", "Despacho"};
  const auto listing = [&](const std::string& option) {
    int status = -1;
    std::istringstream out(testsupport::runCommand(BRONTIDE_EXECUTABLE + (" " + option) + " --wait 2", &status));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << option;
    std::vector<std::string> lines;
    for (std::string line; std::getline(out, line);)
      if (network.contains(line.substr(0, line.find('\t')))) lines.push_back(line);
    return lines;
  };
  // --routes: this computer and every device with its state; those without AirPlay 1 cannot be chosen.
  EXPECT_EQ(listing("--routes"),
            (std::vector<std::string>{"Este ordenador\tplaying", "cocina\tairplay2", "Comedor\tavailable",
                                      "Dormitorio\tairplay2", "Garaje\tpassword", "Terraza\tavailable",
                                      "Baño\tairplay2", "Despacho\tavailable", "Estudio\tavailable",
                                      "Salón\tairplay2"}));
  // --speakers: the same devices, each with its kind and model.
  EXPECT_EQ(listing("--speakers"),
            (std::vector<std::string>{"cocina\tHomePod\tAudioAccessory1,1", "Comedor\tHomePod\tAudioAccessory1,1",
                                      "Dormitorio\tHomePod mini\tAudioAccessory5,1",
                                      "Garaje\tHomePod\tAudioAccessory1,1", "Terraza\tHomePod mini\tAudioAccessory5,1",
                                      "Baño\tAltavoz AirPlay\t",
                                      "Despacho\tApple TV\tAppleTV3,2", "Estudio\tApple TV\tAppleTV5,3",
                                      "Salón\tApple TV\tAppleTV6,2"}));
}

}  // namespace
}  // namespace brontide::e2e
