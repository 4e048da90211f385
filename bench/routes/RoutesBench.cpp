// Prints how quickly `brontide --headless --speaker …` reaches two receivers of the loopback AirPlay network,
// how far apart they play, and what it costs while it does. Needs `scripts/airplay-network up`.
#include <signal.h>
#include <unistd.h>

#include <chrono>
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
  return app.terminate() == 0 ? 0 : 1;
}
