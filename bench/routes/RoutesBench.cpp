// Prints how quickly `brontide --headless --speaker …` reaches two receivers of the loopback AirPlay network,
// how far apart they play, what it costs while it does, and how long a sound takes from the tap to a receiver's
// output, and what a burst of idle local connections does to the stream. Needs `scripts/airplay-network up`.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
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

#include "../ProcessFigures.h"
#include "e2e/HeadlessBrontide.h"
#include "linux/avahi/Rig.h"
#include "support/AudioSession.h"
#include "support/ReceiverPcm.h"

namespace {

using namespace std::chrono_literals;
using brontide::e2e::Clock;
using brontide::e2e::HeadlessBrontide;
using brontide::testsupport::ReceiverPcm;
using namespace brontide::bench;

double secondsNow() { return std::chrono::duration<double>(Clock::now().time_since_epoch()).count(); }

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

// `count` connections to the stream's port that never send a request, held for 10 s while the receivers play:
// the longest silence at each receiver, descriptors and RSS at their peak and 10 s after they close.
void idleBurst(HeadlessBrontide& app, std::vector<std::pair<const char*, ReceiverPcm*>> receivers, int count) {
  rlimit limit{};
  ::getrlimit(RLIMIT_NOFILE, &limit);
  limit.rlim_cur = std::min<rlim_t>(limit.rlim_max, rlim_t(count) + 1024);
  ::setrlimit(RLIMIT_NOFILE, &limit);
  count = std::min(count, int(limit.rlim_cur) - 64);  // this process still reads /proc meanwhile
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(std::uint16_t(app.port()));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  for (auto& [name, pcm] : receivers) pcm->mark();
  const double rssBefore = statusMiB(app.pid(), "VmRSS");
  std::vector<int> sockets;
  for (int i = 0; i < count; ++i) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) break;
    (void)::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    sockets.push_back(fd);
  }
  std::size_t peakFds = 0;
  double peakRss = 0;
  for (int i = 0; i < 20; ++i) {
    std::this_thread::sleep_for(500ms);
    peakFds = std::max(peakFds, openFds(app.pid()));
    peakRss = std::max(peakRss, statusMiB(app.pid(), "VmRSS"));
  }
  for (const int fd : sockets) ::close(fd);
  std::this_thread::sleep_for(10s);
  std::printf("  %zu idle connections for 10 s: brontide's descriptors at most %zu, RSS %.0f -> %.0f MiB (peak), "
              "%.0f MiB 10 s after\n",
              sockets.size(), peakFds, rssBefore, peakRss,
              statusMiB(app.pid(), "VmRSS"));
  for (auto& [name, pcm] : receivers)
    std::printf("  longest silence at %-8s during and after the burst %6.1f ms\n", name, pcm->longestSilence() * 1000);
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
    double loudAt = -1;
    brontide::testsupport::eventually([&] {
      if (const auto loud = pcm->event("loud", pcm->markOffset())) loudAt = loud->first;
      return loudAt >= 0;
    }, 20s);
    if (loudAt < 0) {
      std::fprintf(stderr, "%s never played\n", name.c_str());
      return 1;
    }
    firstSound[name] = loudAt;
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
  std::printf("  brontide RSS                      %7.1f MiB\n", statusMiB(app.pid(), "VmRSS"));
  idleBurst(app, {{"Terraza", &terraza}, {"Estudio", &estudio}}, 20000);
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
