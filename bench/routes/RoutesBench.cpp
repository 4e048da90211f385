// Prints how quickly `brontide --headless --speaker …` reaches two receivers of the loopback AirPlay network,
// how far apart they play, what it costs while it does, and how long a sound takes from the tap to a receiver's
// output. Needs `scripts/airplay-network up`.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "e2e/HeadlessBrontide.h"
#include "linux/avahi/Rig.h"
#include "support/AudioSession.h"
#include "support/ReceiverPcm.h"

namespace {

using namespace std::chrono_literals;
using brontide::e2e::Clock;
using brontide::e2e::HeadlessBrontide;
using brontide::testsupport::ReceiverPcm;

double secondsNow() { return std::chrono::duration<double>(Clock::now().time_since_epoch()).count(); }

// utime + stime of a process, in seconds.
double cpuSeconds(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::istringstream fields(text.substr(text.rfind(')') + 2));
  std::string field;
  double ticks = 0;
  for (int i = 3; fields >> field; ++i) {
    if (i == 14 || i == 15) ticks += std::stod(field);
    if (i == 15) break;
  }
  return ticks / double(::sysconf(_SC_CLK_TCK));
}

long rssKiB(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(in, line);)
    if (line.starts_with("VmRSS:")) return std::stol(line.substr(6));
  return 0;
}

// One run: a source that is silent until SIGUSR1 opens its 440 Hz stream, sent to Terraza at full volume.
// Returns seconds from the onset on the tapped sink to the onset in the receiver's output, or a negative value.
double tapToReceiver() {
  brontide::testsupport::ChildProcess source({TONE_SOURCE, "org.example.onset", "Onset", "0", "440"}, true);
  if (source.readLine() != "playing") return -1;
  ReceiverPcm terraza("Terraza");
  HeadlessBrontide app(BRONTIDE_EXECUTABLE,
                       {"--source", "org.example.onset", "--speaker", "Terraza", "--speaker-volume", "Terraza=1"},
                       {{"GSETTINGS_BACKEND", "memory"}});
  if (!app.waitFor(HeadlessBrontide::is("route: Terraza playing"), 20s)) {
    std::fprintf(stderr, "Terraza never played:\n%s\n", app.transcript().c_str());
    return -1;
  }
  // The receiver plays the silence first, so its onset is the tone's and not its session's.
  if (!brontide::testsupport::eventually([&] { return terraza.secondsSinceMark() > 2; }, 20s)) return -1;
  terraza.mark();
  brontide::testsupport::MonitorRecording tap("Brontide");
  const auto before = Clock::now();
  ::kill(source.pid(), SIGUSR1);
  // Watched as it is written (every millisecond), since the receiver's session is already under way.
  std::optional<Clock::time_point> heard;
  std::uintmax_t seen = terraza.markOffset();
  while (!heard && Clock::now() - before < 20s) {
    std::this_thread::sleep_for(1ms);
    const auto size = terraza.size() / ReceiverPcm::kFrameBytes * ReceiverPcm::kFrameBytes;
    if (size <= seen) continue;
    std::ifstream in(ReceiverPcm::directory() + "/Terraza.pcm", std::ios::binary);
    in.seekg(std::streamoff(seen));
    std::vector<std::int16_t> samples((size - seen) / 2);
    in.read(reinterpret_cast<char*>(samples.data()), std::streamsize(samples.size() * 2));
    if (std::ranges::any_of(samples, [](std::int16_t x) { return std::abs(x) > 100; })) heard = Clock::now();
    seen = size;
  }
  const auto onset = tap.onsetAfter(before, 0.05);
  app.terminate();
  if (!heard || !onset) return -1;
  return std::chrono::duration<double>(*heard - *onset).count();
}

}  // namespace

int main() {
  ::signal(SIGCHLD, SIG_DFL);
  brontide::rig::useNetwork();
  if (ReceiverPcm::directory().empty()) {
    std::fprintf(stderr, "no AirPlay receivers: run scripts/airplay-network up\n");
    return 1;
  }
  for (const char* name : {"Terraza", "Estudio"}) brontide::rig::command(std::string("start-receiver ") + name);
  brontide::testsupport::AudioSession session(false);
  brontide::testsupport::ChildProcess tone({TONE_SOURCE, "org.example.bench", "Tono", "440"}, true);
  if (tone.readLine() != "playing") return 1;

  ReceiverPcm terraza("Terraza"), estudio("Estudio");
  const double launched = secondsNow();
  HeadlessBrontide app(BRONTIDE_EXECUTABLE,
                       {"--source", "org.example.bench", "--speaker", "Terraza", "--speaker", "Estudio"},
                       {{"GSETTINGS_BACKEND", "memory"}});
  std::map<std::string, double> chosen;
  double firstRoute = 0;
  while (chosen.size() < 2) {
    auto line = app.waitFor([](const std::string& l) { return l.starts_with("route: "); }, 20s);
    if (!line) {
      std::fprintf(stderr, "no route lines\n");
      return 1;
    }
    if (firstRoute == 0) firstRoute = secondsNow();
    for (const char* name : {"Terraza", "Estudio"})
      if (*line == std::string("route: ") + name + " connecting") chosen[name] = secondsNow();
  }
  std::map<std::string, double> firstSound;
  for (auto* pcm : {&terraza, &estudio}) {
    const std::string name = pcm == &terraza ? "Terraza" : "Estudio";
    std::optional<std::pair<double, std::uintmax_t>> loud;
    brontide::testsupport::eventually([&] { return (loud = pcm->event("loud", pcm->markOffset())).has_value(); },
                                      20s);
    if (!loud) {
      std::fprintf(stderr, "%s never played\n", name.c_str());
      return 1;
    }
    firstSound[name] = loud->first;
  }

  // Let both sessions settle, then measure the cost of streaming to two receivers for 10 s.
  std::this_thread::sleep_for(2s);
  const double cpuBefore = cpuSeconds(app.pid());
  const double wallBefore = secondsNow();
  std::this_thread::sleep_for(10s);
  const double cpu = (cpuSeconds(app.pid()) - cpuBefore) / (secondsNow() - wallBefore);

  std::printf("routes benchmark (brontide --headless, two shairport-sync receivers on loopback)\n");
  std::printf("  launch -> first route listed      %7.0f ms\n", (firstRoute - launched) * 1000);
  for (const char* name : {"Terraza", "Estudio"})
    std::printf("  %-8s chosen -> first sound     %7.0f ms\n", name, (firstSound[name] - chosen[name]) * 1000);
  std::printf("  launch -> sound at both           %7.0f ms\n",
              (std::max(firstSound["Terraza"], firstSound["Estudio"]) - launched) * 1000);
  std::printf("  skew between the receivers' first sound %5.1f ms\n",
              std::abs(firstSound["Terraza"] - firstSound["Estudio"]) * 1000);
  std::printf("  brontide CPU while sending to two %7.1f %% of one core\n", cpu * 100);
  std::printf("  brontide RSS                      %7.1f MiB\n", double(rssKiB(app.pid())) / 1024);
  if (app.terminate() != 0) return 1;
  for (int run = 1; run <= 3; ++run) {
    const double latency = tapToReceiver();
    if (latency < 0) {
      std::fprintf(stderr, "tap -> receiver: no onset measured\n");
      return 1;
    }
    std::printf("  tap -> Terraza's output, run %d   %7.0f ms\n", run, latency * 1000);
  }
  return 0;
}
