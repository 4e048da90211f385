// Prints, with the click train of tests/support/clicks.py: that a receiver's PCM keeps its play-out time (a
// receiver told to play 500 ms later writes its clicks 500 ms later), how far this computer's output plays from
// a receiver with both ticked, and for 1, 2, 4 and 8 receivers brontide's CPU, the CPU each added receiver costs
// and the largest skew between the receivers' outputs. Starts its own receivers ("BancoN") on the loopback
// AirPlay network's receivers' daemon; needs `scripts/airplay-network up`. `bench_speakers COUNT...` sends only
// to those counts of receivers, without the checks before.
#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "../ProcessFigures.h"
#include "e2e/HeadlessBrontide.h"
#include "support/AudioSession.h"
#include "support/ReceiverPcm.h"

namespace {

using namespace std::chrono_literals;
using brontide::e2e::Clock;
using brontide::e2e::HeadlessBrontide;
using brontide::testsupport::ChildProcess;
using brontide::testsupport::ReceiverPcm;
using namespace brontide::bench;

const std::string kRigConf = std::string(BRONTIDE_SOURCE_DIR) + "/scripts/airplay-network.d";

// A shairport-sync receiver like the network's own (same configuration, its volume honoured), writing through
// pcm-tap to $BRONTIDE_RECEIVERS_DIR/NAME.pcm, `offset` seconds later than it is told to play.
class BenchReceiver {
 public:
  BenchReceiver(int index, double offset = 0, double buffer = 0.1) : name_("Banco" + std::to_string(index)) {
    const std::string dir = ReceiverPcm::directory(), base = dir + "/" + name_;
    std::ifstream in(kRigConf + "/receiver.conf.in");
    std::stringstream text;
    text << in.rdbuf();
    std::string conf = text.str();
    const auto put = [&](const std::string& key, const std::string& value) {
      for (auto at = conf.find(key); at != std::string::npos; at = conf.find(key, at + value.size()))
        conf.replace(at, key.size(), value);
    };
    put("@NAME@", name_);
    put("@PORT@", std::to_string(5200 + index));
    put("@UDP_BASE@", std::to_string(6300 + 10 * index));
    put("@BACKEND@", "stdout");
    put("@PASSWORD@", "");
    put("audio_backend_buffer_desired_length_in_seconds = 0.1",
        "audio_backend_buffer_desired_length_in_seconds = " + std::to_string(buffer));
    put("@VOLUME@", "ignore_volume_control = \"no\"; audio_backend_latency_offset_in_seconds = " +
                        std::to_string(offset) + ";");
    std::ofstream(base + ".conf") << conf;
    ::unlink((base + ".fifo").c_str());
    ::mkfifo((base + ".fifo").c_str(), 0600);
    std::ofstream(base + ".pcm", std::ios::trunc);
    tap_ = std::make_unique<ChildProcess>(std::vector<std::string>{
        "/usr/bin/python3", kRigConf + "/pcm-tap", base + ".fifo", base + ".pcm", base + ".events"});
    receiver_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{"sh", "-c", "exec shairport-sync -c '" + base + ".conf' -u 1<>'" + base +
                                                 ".fifo' 2>>'" + base + ".log'"},
        false, std::map<std::string, std::string>{{"DBUS_SYSTEM_BUS_ADDRESS", std::getenv("BRONTIDE_RECEIVERS_BUS")}});
  }
  [[nodiscard]] const std::string& name() const { return name_; }

 private:
  std::string name_;
  std::unique_ptr<ChildProcess> tap_, receiver_;
};

double secondsNow() { return std::chrono::duration<double>(Clock::now().time_since_epoch()).count(); }

// brontide sending the click train to `speakers` (receiver names or "Este ordenador"), once each receiver plays.
std::unique_ptr<HeadlessBrontide> sendTo(const std::vector<std::string>& speakers) {
  std::vector<std::string> args{"--source", "org.example.clicks"};
  for (const auto& s : speakers) {
    args.insert(args.end(), {"--speaker", s});
    if (s != "Este ordenador") args.insert(args.end(), {"--speaker-volume", s + "=1"});
  }
  auto app = std::make_unique<HeadlessBrontide>(BRONTIDE_EXECUTABLE, args,
                                                std::map<std::string, std::string>{{"GSETTINGS_BACKEND", "memory"}});
  for (const auto& s : speakers) {
    if (s == "Este ordenador") continue;
    if (!app->find(HeadlessBrontide::is("route: " + s + " playing"), 0, 30s)) {
      std::fprintf(stderr, "%s never played:\n%s\n", s.c_str(), app->transcript().c_str());
      return nullptr;
    }
  }
  std::this_thread::sleep_for(4s);  // each receiver past its session's start
  return app;
}

// How far the sources after the first play from it: the largest |skew|, and each one in ms ("Banco2 +0.3 ...");
// a negative largest when one did not line up.
std::pair<double, std::string> skewsFrom(const std::vector<std::string>& sources, double seconds = 8) {
  const auto skews = brontide::testsupport::clickSkews(seconds, sources);
  if (skews.size() + 1 < sources.size()) return {-1, ""};
  double largest = 0;
  std::string each;
  char item[64];
  for (const auto& [name, skew] : skews) {
    largest = std::max(largest, std::abs(skew));
    std::snprintf(item, sizeof item, " %s %+.1f", name.c_str(), skew * 1000);
    each += item;
  }
  return {largest, each};
}

}  // namespace

int main(int argc, char** argv) {
  ::signal(SIGCHLD, SIG_DFL);
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  if (ReceiverPcm::directory().empty() || !std::getenv("BRONTIDE_RECEIVERS_BUS")) {
    std::fprintf(stderr, "no AirPlay network: run scripts/airplay-network up\n");
    return 1;
  }
  brontide::testsupport::AudioSession session(false);
  ChildProcess clicks({TONE_SOURCE, "org.example.clicks", "Clics", "clicks"}, true);
  if (clicks.readLine() != "playing") return 1;
  std::printf("speakers benchmark (brontide --headless, the click train, shairport-sync receivers on loopback)\n");

  if (argc == 1) {
    // A receiver's PCM keeps its play-out time: one that plays 500 ms later writes 500 ms later; one that keeps
    // 0.3 s in its backend buffer writes 0.2 s earlier, which clicks.py takes off (it reads each NAME.conf).
    BenchReceiver now(1), later(2, 0.5), buffered(3, 0, 0.3);
    std::this_thread::sleep_for(2s);
    const auto app = sendTo({now.name(), later.name(), buffered.name()});
    if (!app) return 1;
    const auto skews = brontide::testsupport::clickSkews(8, {now.name(), later.name(), buffered.name()});
    if (skews.size() != 2) return std::fprintf(stderr, "the receivers' clicks did not line up\n"), 1;
    std::printf("  a receiver told to play 500 ms later plays %.1f ms later; one with a 0.3 s buffer, %.1f ms\n",
                skews.at(later.name()) * 1000, skews.at(buffered.name()) * 1000);
  }
  if (argc == 1) {
    BenchReceiver receiver(1);
    std::this_thread::sleep_for(2s);
    const auto app = sendTo({receiver.name(), "Este ordenador"});
    if (!app) return 1;
    const auto skews = brontide::testsupport::clickSkews(
        10, {std::string("monitor:") + brontide::testsupport::kDefaultSink, receiver.name()});
    if (!skews.contains(receiver.name())) return std::fprintf(stderr, "this computer's clicks did not line up\n"), 1;
    std::printf("  this computer in step with a receiver: the receiver plays %.1f ms after it\n",
                skews.at(receiver.name()) * 1000);
  }

  std::printf("  receivers  brontide CPU  added per receiver  largest skew between receivers\n");
  double single = 0;
  std::vector<std::pair<double, double>> cpuByCount;
  std::vector<int> counts{1, 2, 4, 8};
  if (argc > 1) counts.clear();  // bench_speakers [COUNT...]: only these, without the checks before
  for (int i = 1; i < argc; ++i) counts.push_back(std::atoi(argv[i]));
  for (const int count : counts) {
    std::vector<std::unique_ptr<BenchReceiver>> receivers;
    std::vector<std::string> names;
    for (int i = 1; i <= count; ++i) {
      receivers.push_back(std::make_unique<BenchReceiver>(i));
      names.push_back(receivers.back()->name());
    }
    std::this_thread::sleep_for(2s);
    const auto app = sendTo(names);
    if (!app) return 1;
    const double cpuBefore = cpuSeconds(app->pid()), wallBefore = secondsNow();
    std::this_thread::sleep_for(20s);
    const double cpu = (cpuSeconds(app->pid()) - cpuBefore) / (secondsNow() - wallBefore);
    if (count == 1) single = cpu;
    cpuByCount.emplace_back(count, cpu);
    const auto [skew, each] = count > 1 ? skewsFrom(names) : std::pair<double, std::string>{0, ""};
    char added[32] = "", apart[32] = "";
    if (count > 1) {
      if (single > 0) std::snprintf(added, sizeof added, "%.2f %%", (cpu - single) / (count - 1) * 100);
      if (skew < 0) std::snprintf(apart, sizeof apart, "did not line up");
      else std::snprintf(apart, sizeof apart, "%.1f ms", skew * 1000);
    }
    std::printf("  %9d  %10.1f %%  %18s  %s\n", count, cpu * 100, added, apart);
    if (skew > 0.005) std::printf("             each from %s:%s ms\n", names.front().c_str(), each.c_str());
    std::fflush(stdout);
  }
  // The least-squares slope over every count: steadier than any one row on a shared machine.
  if (cpuByCount.size() > 1) {
    double n = 0, sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (const auto& [x, y] : cpuByCount) n += 1, sx += x, sy += y, sxx += x * x, sxy += x * y;
    std::printf("  CPU per added receiver, fitted over every count: %.2f %%\n",
                (n * sxy - sx * sy) / (n * sxx - sx * sx) * 100);
  }
  return 0;
}
